#include "talvorine/client/ui/common/background_request.h"

#include <QApplication>
#include <QWidget>
#include <exception>

#include "talvorine/client/session/worker.h"

namespace talvorine::client::ui {

std::optional<std::string> RunBackgroundRequest(QWidget* window,
                                                const std::function<void()>& request) {
    std::optional<std::string> failure;
    const bool wasEnabled = window == nullptr || window->isEnabled();
    if (window != nullptr) {
        window->setEnabled(false);
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    {
        session::Worker worker;
        try {
            worker.Start([&] {
                try {
                    request();
                } catch (const std::exception& e) {
                    failure = e.what();
                }
            });
            worker.WaitDispatching([] { QApplication::processEvents(QEventLoop::AllEvents, 5); });
        } catch (const std::exception& e) {
            failure = e.what();  // the thread could not be created
        }
    }
    QApplication::restoreOverrideCursor();
    if (window != nullptr) {
        window->setEnabled(wasEnabled);
    }
    return failure;
}

}  // namespace talvorine::client::ui
