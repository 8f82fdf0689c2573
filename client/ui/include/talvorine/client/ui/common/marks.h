#pragma once
// Small row marks drawn by our own code for the history lists.

#include <QIcon>

namespace talvorine::client::ui {

// A request or transfer that was not accepted: a small red cross.
QIcon NotAcceptedMark();

}  // namespace talvorine::client::ui
