#pragma once
// FloatingContact: a contact's small always-on-top window on the desktop: its picture in a
// square at the left, the nickname beside it (embossed grey while offline) and an 8x8 close
// button at the top-right corner. Only its width can be changed (at the left and right
// edges); dragging anywhere else moves it. It never takes the activation from the main window.

#include <QWidget>
#include <string>

namespace talvorine::client::ui::contacts {

class CContactListBar;

class FloatingContact : public QWidget {
    Q_OBJECT

public:
    FloatingContact(CContactListBar& bar, std::string contactId);
    const std::string& ContactId() const { return m_contactId; }
    // Item height plus twice the frame minus 4.
    static int HeightFor(int itemHeight);
    static constexpr int Frame = 3;
    static constexpr int CloseSize = 8;
    QRect CloseButtonRect() const;
    // Follows the bar's icon size and the contact's nickname.
    void Refresh();
    void RepaintPicture();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    enum class Grab { None, Move, LeftEdge, RightEdge, Close };
    Grab HitTest(QPoint point) const;
    QRect PictureRect() const;

    CContactListBar& m_bar;
    std::string m_contactId;
    Grab m_grab = Grab::None;
    QPoint m_pressGlobal;
    QRect m_pressGeometry;
};

}  // namespace talvorine::client::ui::contacts
