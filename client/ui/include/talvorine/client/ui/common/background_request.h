#pragma once
// Account requests run on a worker thread while the window keeps drawing: the wait cursor
// shows and the window is disabled until the request ends, so a slow server (up to the
// 30 s time-out) never freezes it.

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace talvorine::client::ui {

// Runs `request` off the window thread and serves events until it returns. nullopt when it
// succeeded, else the text to show (the refusal, the socket error, or the exception's text).
std::optional<std::string> RunBackgroundRequest(QWidget* window,
                                                const std::function<void()>& request);

}  // namespace talvorine::client::ui
