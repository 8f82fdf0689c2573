#pragma once
// "About": the program's name and version.

#include <QWidget>

namespace talvorine::admin::ui {

class CPropPageAbout : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* HelpTopic = "index.htm";
    explicit CPropPageAbout(QWidget* parent = nullptr);
};

}  // namespace talvorine::admin::ui
