#include "support/scripted_services.h"

namespace vq::platform {

namespace {
QString kindName(DialogKind k) {
    switch (k) {
    case DialogKind::Open:
        return QStringLiteral("open dialog");
    case DialogKind::Save:
        return QStringLiteral("save dialog");
    case DialogKind::Information:
        return QStringLiteral("information");
    case DialogKind::Confirmation:
        return QStringLiteral("confirmation");
    case DialogKind::Input:
        return QStringLiteral("input box");
    case DialogKind::Error:
        return QStringLiteral("error box");
    }
    return {};
}
} // namespace

ScriptedServices& ScriptedServices::open(const QString& title, const std::string& fileName) {
    steps_.push_back({DialogKind::Open, title, true, fileName, {}, {}, {}});
    return *this;
}

ScriptedServices& ScriptedServices::openMany(const QString& title,
                                             std::vector<std::string> fileNames) {
    Step s{DialogKind::Open,
           title,
           true,
           fileNames.empty() ? std::string() : fileNames[0],
           {},
           {},
           {}};
    s.fileNames = std::move(fileNames);
    steps_.push_back(std::move(s));
    return *this;
}

ScriptedServices& ScriptedServices::save(const QString& title, const std::string& fileName) {
    steps_.push_back({DialogKind::Save, title, true, fileName, {}, {}, {}});
    return *this;
}

ScriptedServices& ScriptedServices::cancelFile(DialogKind kind, const QString& title) {
    steps_.push_back({kind, title, false, {}, {}, {}, {}});
    return *this;
}

ScriptedServices& ScriptedServices::info(const QString& text) {
    steps_.push_back({DialogKind::Information, text, true, {}, {}, {}, {}});
    return *this;
}

ScriptedServices& ScriptedServices::confirmAnswer(const QString& text, bool ok) {
    steps_.push_back({DialogKind::Confirmation, text, ok, {}, {}, {}, {}});
    return *this;
}

ScriptedServices& ScriptedServices::input(const QString& caption, std::optional<QString> answer) {
    steps_.push_back(
        {DialogKind::Input, caption, answer.has_value(), {}, answer.value_or(QString()), {}, {}});
    return *this;
}

ScriptedServices& ScriptedServices::error(const QString& text) {
    steps_.push_back({DialogKind::Error, text, true, {}, {}, {}, {}});
    return *this;
}

ScriptedServices& ScriptedServices::whileShowing(std::function<void()> f) {
    if (!steps_.empty()) steps_.back().during = std::move(f);
    return *this;
}

std::optional<ScriptedServices::Step> ScriptedServices::take(DialogKind kind,
                                                             const QString& title) {
    if (steps_.empty()) {
        failures_.push_back(QStringLiteral("unexpected %1 \"%2\"").arg(kindName(kind), title));
        return std::nullopt;
    }
    Step s = std::move(steps_.front());
    steps_.pop_front();
    if (s.kind != kind || s.title != title) {
        failures_.push_back(QStringLiteral("expected %1 \"%2\", got %3 \"%4\"")
                                .arg(kindName(s.kind), s.title, kindName(kind), title));
        return std::nullopt;
    }
    if (s.during) s.during();
    return s;
}

bool ScriptedServices::runFileDialog(FileDialog& d, QWidget*) {
    lastDialog_ = d;
    auto s = take(d.kind, d.title);
    if (!s || !s->accept) return false;
    d.fileName = s->fileName;
    d.fileNames = s->fileNames.empty() ? std::vector<std::string>{s->fileName} : s->fileNames;
    return true;
}

void ScriptedServices::information(QWidget*, const QString& text) {
    take(DialogKind::Information, text);
}

bool ScriptedServices::confirm(QWidget*, const QString& text) {
    auto s = take(DialogKind::Confirmation, text);
    return s && s->accept;
}

std::optional<QString> ScriptedServices::inputBox(QWidget*, const QString& caption, const QString&,
                                                  const QString& value) {
    lastInputValue_ = value;
    auto s = take(DialogKind::Input, caption);
    if (!s || !s->accept) return std::nullopt;
    return s->text;
}

void ScriptedServices::openDocument(QWidget*, const QString& verb, const QString& file) {
    opened_.push_back(verb + QLatin1Char(' ') + file);
}

bool ScriptedServices::canOpenDocument(const QString&) {
    return canOpen_;
}

void ScriptedServices::errorBox(QWidget*, const QString& text) {
    take(DialogKind::Error, text);
}

} // namespace vq::platform
