#pragma once
// Desktop services for fault sweeps: dialogs are answered from tables, not
// from a queue, because where an injected fault ends a command - and so
// which dialogs it still shows - differs from case to case. Messages and
// error boxes are recorded in order.
#include "platform/ui/services.h"

#include <QStringList>
#include <map>

namespace vqtest {

class SweepServices : public vq::platform::Services {
public:
    std::map<QString, std::string> files; // file dialog title -> chosen name
    std::map<QString, QString> inputs;    // input box prompt -> typed text
    QStringList messages, errors;

    bool runFileDialog(vq::platform::FileDialog& d, QWidget*) override {
        auto it = files.find(d.title);
        if (it == files.end()) {
            errors << QStringLiteral("unexpected file dialog ") + d.title;
            return false;
        }
        d.fileName = it->second;
        d.fileNames = {it->second};
        return true;
    }
    void information(QWidget*, const QString& text) override { messages << text; }
    bool confirm(QWidget*, const QString&) override { return false; }
    std::optional<QString> inputBox(QWidget*, const QString&, const QString& prompt,
                                    const QString&) override {
        auto it = inputs.find(prompt);
        if (it == inputs.end()) return std::nullopt;
        return it->second;
    }
    void openDocument(QWidget*, const QString&, const QString&) override {}
    bool canOpenDocument(const QString&) override { return false; }
    void errorBox(QWidget*, const QString& text) override { errors << text; }

    void clear() {
        messages.clear();
        errors.clear();
    }
};

} // namespace vqtest
