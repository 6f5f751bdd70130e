// Holds the main window's handler guard while the program itself changes
// controls, so that no handler runs for those changes.
#pragma once

#include "app/TMainForm.h"

class THandlersGuard {
public:
    explicit THandlersGuard(TMainForm* form) : Form(form), Saved(form->HandlersBusy) {
        form->HandlersBusy = true;
    }
    ~THandlersGuard() { Form->HandlersBusy = Saved; }
    THandlersGuard(const THandlersGuard&) = delete;
    THandlersGuard& operator=(const THandlersGuard&) = delete;

private:
    TMainForm* Form;
    bool Saved;
};
