#pragma once

#include "requestfailurereporter.h"

class QWidget;

// The window programs' answer to a failed device request: a modal box with the text "error", an
// OK button, no icon and the program's title as caption, waited on until the user closes it.
class ErrorBox final : public RequestFailureReporter
{
public:
    // Modal over parent, or over the whole application without one.
    explicit ErrorBox(QWidget *parent = nullptr);

    void requestFailed(const RequestFailure &failure) override;

private:
    QWidget *m_parent;
};
