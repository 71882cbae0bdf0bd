#pragma once
// Test double for the desktop services: each expected dialog is queued with
// its kind, its title (or text) and the answer; anything unexpected is
// recorded as a failure and answered with a cancel.
#include "platform/ui/services.h"

#include <deque>
#include <string>
#include <vector>

namespace vq::platform {

class ScriptedServices : public Services {
public:
    struct Step {
        DialogKind kind;
        QString title; // file dialogs: title; messages, errors: text; input: caption
        bool accept = true;
        std::string fileName;               // answer of a file dialog
        QString text;                       // answer of an input box
        std::function<void()> during;       // runs while the dialog is "open"
        std::vector<std::string> fileNames; // answer of an open dialog that takes several
    };

    ScriptedServices& open(const QString& title, const std::string& fileName);
    // An open dialog that takes several files, answered with `fileNames`.
    ScriptedServices& openMany(const QString& title, std::vector<std::string> fileNames);
    ScriptedServices& save(const QString& title, const std::string& fileName);
    ScriptedServices& cancelFile(DialogKind kind, const QString& title);
    ScriptedServices& info(const QString& text);
    ScriptedServices& confirmAnswer(const QString& text, bool ok);
    ScriptedServices& input(const QString& caption, std::optional<QString> answer);
    ScriptedServices& error(const QString& text);
    // Runs f while the most recently queued dialog is showing.
    ScriptedServices& whileShowing(std::function<void()> f);

    bool runFileDialog(FileDialog& d, QWidget* owner) override;
    void information(QWidget* owner, const QString& text) override;
    bool confirm(QWidget* owner, const QString& text) override;
    std::optional<QString> inputBox(QWidget* owner, const QString& caption, const QString& prompt,
                                    const QString& value) override;
    void openDocument(QWidget* owner, const QString& verb, const QString& file) override;
    bool canOpenDocument(const QString& file) override;
    // What canOpenDocument answers for every file (true unless set).
    void setCanOpenDocuments(bool can) { canOpen_ = can; }
    void errorBox(QWidget* owner, const QString& text) override;

    // Unexpected dialogs and mismatches, in order; empty when all went as queued.
    const std::vector<QString>& failures() const { return failures_; }
    bool done() const { return steps_.empty(); }
    // "verb file" for each document opened.
    const std::vector<QString>& opened() const { return opened_; }
    void clearOpened() { opened_.clear(); }
    // What the last file dialog was showing when it was asked (name, filter...).
    const FileDialog& lastFileDialog() const { return lastDialog_; }
    // What the last input box was pre-filled with.
    const QString& lastInputValue() const { return lastInputValue_; }

private:
    std::optional<Step> take(DialogKind kind, const QString& title);
    std::deque<Step> steps_;
    std::vector<QString> failures_;
    std::vector<QString> opened_;
    FileDialog lastDialog_;
    QString lastInputValue_;
    bool canOpen_ = true;
};

// Installs a ScriptedServices for the lifetime of this object.
class ScopedScript {
public:
    ScopedScript() { setServices(&script); }
    ~ScopedScript() { setServices(nullptr); }
    ScriptedServices script;
};

} // namespace vq::platform
