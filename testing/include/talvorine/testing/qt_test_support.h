#pragma once
// Widget test helpers shared by the programs' window tests: answering the message boxes an
// action opens, and waiting while the window thread serves the workers' hand-overs.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace talvorine::testing {

struct CaughtBox {
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Runs `action`; every message box it opens is recorded, `onBox` is called with its number
// while it is shown, and it is answered in turn from `answers` (the last answer repeats).
inline std::vector<CaughtBox> AnswerBoxesInTurn(
    const std::function<void()>& action, std::vector<QMessageBox::StandardButton> answers,
    const std::function<void(std::size_t)>& onBox = {}) {
    std::vector<CaughtBox> caught;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box->property("answered").toBool()) {
            return;
        }
        box->setProperty("answered", true);
        caught.push_back({box->text(), box->icon()});
        if (onBox) {
            onBox(caught.size() - 1);
        }
        const std::size_t turn = std::min(caught.size(), answers.size()) - 1;
        QAbstractButton* button = answers.empty() ? nullptr : box->button(answers[turn]);
        if (button != nullptr) {
            button->click();
        } else {
            box->reject();
        }
    });
    timer.start();
    action();
    timer.stop();
    return caught;
}

// Runs `action`; every message box it opens is recorded, `onBox` is called while it is shown,
// and it is answered with `answer`.
inline std::vector<CaughtBox> AnswerBoxes(const std::function<void()>& action,
                                          QMessageBox::StandardButton answer = QMessageBox::Ok,
                                          const std::function<void()>& onBox = {}) {
    return AnswerBoxesInTurn(action, {answer}, [&](std::size_t) {
        if (onBox) {
            onBox();
        }
    });
}

// Serves events until `done` or the limit; true when done.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto start = std::chrono::steady_clock::now();
    while (!done()) {
        if (std::chrono::steady_clock::now() - start > limit) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace talvorine::testing
