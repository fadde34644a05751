#pragma once
// A read-only number field with up/down arrows whose owner decides every
// step: each arrow click, arrow key or wheel notch is handed to the step
// handler as one step up (+1) or down (-1), and the field only changes when
// the handler sets a new value. This is the pairing of a read-only edit and
// an up-down control that the resolution dialog needs, where a step that
// would leave the allowed range must do nothing at all (a plain spin box
// would clamp to the bound instead).
//
// Threads: GUI thread only.
#include <QSpinBox>

#include <functional>

class SAWndSpinBoxStepped : public QSpinBox
{
    Q_OBJECT

public:
    explicit SAWndSpinBoxStepped(QWidget* parent = nullptr);

    // Called with +1 or -1 for each step the user asks for.
    void StepHandlerSet(std::function<void(int direction)> handler);

    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;

private:
    std::function<void(int direction)> m_StepHandler;
};
