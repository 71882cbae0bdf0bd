#pragma once
// The main window's invisible Button3 and Button4: a user never sees or
// reaches them, and Button4 is "clicked" on the worker thread, so they are
// plain objects with a click handler rather than widgets.
#include <functional>
#include <string>

class THiddenButton {
public:
    explicit THiddenButton(std::string name) : name_(std::move(name)) {}
    std::function<void()> OnClick;
    // Performs a click on the calling thread.
    void Click() const {
        if (OnClick) OnClick();
    }
    const std::string& name() const { return name_; }

private:
    std::string name_;
};
