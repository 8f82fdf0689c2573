#pragma once
// "Shut Down ?": asked before the main window's close box ends the program. Whichever button
// closes it, "Shut Down"/"Prompt" is written as the inverse of its check box.

#include <QDialog>

class QCheckBox;

namespace talvorine::client::ui {

inline constexpr const char* ShutDownText =
    "Shut down Talvorine Messenger now? If you want to minimize the window, click the minimize "
    "button.";

class CDlgShutDown : public QDialog {
    Q_OBJECT
public:
    explicit CDlgShutDown(QWidget* parent = nullptr);
    void done(int result) override;

private:
    QCheckBox* m_dontShow;
};

}  // namespace talvorine::client::ui
