#pragma once
// The platform services of the window-path benchmark drivers: file dialogs
// answered in order from the command line, the last message remembered, no
// other dialog ever shown.
#include "platform/ui/services.h"

#include <deque>
#include <string>

class AnsweringServices : public vq::platform::Services {
public:
    std::deque<std::string> names;
    QString message;
    bool runFileDialog(vq::platform::FileDialog& d, QWidget*) override {
        if (names.empty()) return false;
        d.fileName = names.front();
        names.pop_front();
        return true;
    }
    void information(QWidget*, const QString& text) override { message = text; }
    bool confirm(QWidget*, const QString&) override { return true; }
    std::optional<QString> inputBox(QWidget*, const QString&, const QString&,
                                    const QString&) override {
        return std::nullopt;
    }
    void openDocument(QWidget*, const QString&, const QString&) override {}
    bool canOpenDocument(const QString&) override { return false; }
    void errorBox(QWidget*, const QString& text) override { message = text; }
};
