#pragma once
// The file-transfer history window of one contact (caption "File Transfer"): one row per
// transfer, the "&Filter" menu (outgoing, incoming), the "&Open" menu (the file or its folder),
// delete and delete all. Its column widths, filter and placement are kept in the section
// "FileTransferHistory".

#include <QDialog>
#include <QUrl>
#include <functional>

#include "talvorine/client/ui/transfer/transfer_history.h"

class QAction;
class QMenu;
class QPushButton;
class QTreeWidget;

namespace talvorine::client::ui {

class CDlgFileTransferHistory : public QDialog {
    Q_OBJECT
public:
    // `openUrl` hands a file or folder to the desktop (QDesktopServices by default).
    CDlgFileTransferHistory(TransferHistory history, QWidget* parent = nullptr,
                            std::function<bool(const QUrl&)> openUrl = {});
    ~CDlgFileTransferHistory() override;

    const std::string& PeerId() const { return m_history.PeerId(); }
    const TransferHistory& History() const { return m_history; }

    void DeleteSelected();
    void DeleteAll();
    void SetFilter(bool showOutgoing, bool showIncoming);
    void OpenFile();
    void OpenFolder();
    // The "&Open" menu as it is about to be shown for the selected row.
    void PrepareOpenMenu();

private:
    void Fill();
    void UpdateButtons();
    int SelectedRow() const;
    void OpenPath(const std::filesystem::path& path, bool askFirst);

    TransferHistory m_history;
    std::function<bool(const QUrl&)> m_openUrl;
    QTreeWidget* m_list;
    QPushButton* m_delete;
    QPushButton* m_deleteAll;
    QPushButton* m_open;
    QMenu* m_openMenu;
    QAction* m_openFile;
    QAction* m_openFolder;
    QAction* m_showOutgoing;
    QAction* m_showIncoming;
};

}  // namespace talvorine::client::ui
