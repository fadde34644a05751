#include "app/dialogs/SAWndSpinBoxStepped.h"

#include <QLineEdit>

#include <climits>

SAWndSpinBoxStepped::SAWndSpinBoxStepped(QWidget* parent) : QSpinBox(parent)
{
    // The range is wide open: the step handler applies the real bounds.
    setRange(0, INT_MAX);
    // Only the edit is read-only; a read-only spin box would refuse the arrows too.
    lineEdit()->setReadOnly(true);
    setAccelerated(false);
}

void SAWndSpinBoxStepped::StepHandlerSet(std::function<void(int direction)> handler)
{
    m_StepHandler = std::move(handler);
}

void SAWndSpinBoxStepped::stepBy(int steps)
{
    if (steps == 0 || !m_StepHandler)
        return;
    m_StepHandler(steps > 0 ? 1 : -1);
}

QAbstractSpinBox::StepEnabled SAWndSpinBoxStepped::stepEnabled() const
{
    // Both arrows stay live at the bounds: an out-of-range step is the
    // handler's to refuse, silently.
    if (!isEnabled())
        return StepNone;
    return StepUpEnabled | StepDownEnabled;
}
