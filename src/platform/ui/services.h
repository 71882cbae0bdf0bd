#pragma once
// Stand-ins for the desktop services the windows call by name: file dialogs,
// message dialogs, the input box, the document opener and the error box.
// The program uses QtServices; tests install ScriptedServices, which answers
// dialogs from a queue and records what it was asked.
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace vq::platform {

inline const QString kAppTitle = QStringLiteral("VeskoQindra V3.4");
inline const QString kTextFilter = QStringLiteral("Text files(*.txt)|*.txt|All files(*.*)|*.*");

enum class DialogKind { Open, Save, Information, Confirmation, Input, Error };

// One shared file dialog (OpenDialog1, SaveDialog1, ...). Commands set the
// title before each showing; the last chosen name stays for the next showing.
struct FileDialog {
    DialogKind kind = DialogKind::Open; // Open or Save
    QString name;                       // "OpenDialog1", for tests and logs
    QString title;
    QString filter = kTextFilter; // "Description|pattern|..." pairs
    QString defaultExt = QStringLiteral("txt");
    std::string fileName;         // bytes, as the file system takes them
    bool overwritePrompt = false; // save dialogs ask before replacing
    // An open dialog that takes several existing files at once; they land
    // in fileNames, the first of them in fileName too.
    bool multiple = false;
    std::vector<std::string> fileNames;
};

class Services {
public:
    virtual ~Services() = default;
    // Shows the dialog; on OK stores the chosen name in d.fileName.
    virtual bool runFileDialog(FileDialog& d, QWidget* owner) = 0;
    // "信息", information icon, "确定".
    virtual void information(QWidget* owner, const QString& text) = 0;
    // "确认", question icon, "确定" (default) / "放弃" (Esc, close box).
    virtual bool confirm(QWidget* owner, const QString& text) = 0;
    // Input box: caption, prompt, pre-filled and selected text (<= 255
    // characters), "确定" / "放弃". nullopt when cancelled.
    virtual std::optional<QString> inputBox(QWidget* owner, const QString& caption,
                                            const QString& prompt, const QString& value) = 0;
    // Document opener; the result is never examined.
    virtual void openDocument(QWidget* owner, const QString& verb, const QString& file) = 0;
    // Whether the document opener would find both the file (a plain name is
    // taken from the current folder) and a program for its type.
    virtual bool canOpenDocument(const QString& file) = 0;
    // Error box: title "VeskoQindra V3.4", error icon, one OK; the text is
    // shown as given (the full-stop rule is applied by the caller).
    virtual void errorBox(QWidget* owner, const QString& text) = 0;
};

Services& services();
// Installs other services (tests); nullptr restores the real ones.
void setServices(Services* s);

// Shows a shared file dialog through the services and, on OK, makes the
// chosen file's folder the process's current folder, as the design's dialogs
// do. Returns false when cancelled.
bool execute(FileDialog& d, QWidget* owner);

// Runs a handler; any exception becomes the error box. Every place where Qt
// calls one of our handlers goes through here, so no exception crosses the
// event loop.
void guarded(QWidget* owner, const std::function<void()>& handler);
// The error box for an exception's text (full-stop rule applied).
void showFailure(QWidget* owner, const char* what);

// Bytes of a file name <-> text shown to the user.
QString fromFileName(const std::string& name);
std::string toFileName(const QString& name);

} // namespace vq::platform
