#include "QtBoxAnswerer.h"

#include "platform/ui/Application.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

using namespace platform;

namespace {

constexpr std::pair<QMessageBox::StandardButton, int> kButtons[] = {
    {QMessageBox::Ok, IDOK}, {QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};

int IconCode(QMessageBox::Icon icon)
{
    switch (icon) {
    case QMessageBox::Critical:
        return MB_ICONERROR;
    case QMessageBox::Question:
        return MB_ICONQUESTION;
    case QMessageBox::Warning:
        return MB_ICONWARNING;
    case QMessageBox::Information:
        return MB_ICONINFORMATION;
    default:
        return 0;
    }
}

int ButtonsType(const std::vector<int>& buttons)
{
    if (buttons == std::vector<int>{IDOK})
        return MB_OK;
    if (buttons == std::vector<int>{IDOK, IDCANCEL})
        return MB_OKCANCEL;
    if (buttons == std::vector<int>{IDYES, IDNO, IDCANCEL})
        return MB_YESNOCANCEL;
    if (buttons == std::vector<int>{IDYES, IDNO})
        return MB_YESNO;
    return -1;
}

void PressEscape(QWidget* w)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
}

} // namespace

QtBoxAnswerer::QtBoxAnswerer(std::vector<int> answers, int pollMs) : answers_(answers.begin(), answers.end())
{
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(pollMs);
}

QtBoxAnswerer::~QtBoxAnswerer() = default;

QtBoxAnswerer& QtBoxAnswerer::Then(int answer)
{
    answers_.push_back(answer);
    return *this;
}

void QtBoxAnswerer::Poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    // A box that was answered may still be on its way out.
    for (const auto& w : answered_)
        if (w == modal)
            return;
    answered_.erase(std::remove_if(answered_.begin(), answered_.end(), [](const auto& w) { return w.isNull(); }),
                    answered_.end());
    answered_.emplace_back(modal);

    Box box;
    box.Caption = modal->windowTitle().toStdString();
    auto* mb = qobject_cast<QMessageBox*>(modal);
    box.MessageBox = mb != nullptr;
    if (mb) {
        box.Text = mb->text().toStdString();
        for (auto [button, code] : kButtons)
            if (mb->standardButtons() & button)
                box.Buttons.push_back(code);
        box.Icon = IconCode(mb->icon());
        const int buttons = ButtonsType(box.Buttons);
        box.Type = buttons < 0 ? -1 : (buttons | box.Icon);
    }

    int answer = Escape;
    if (!box.MessageBox) {
        answer = Close;
    } else if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    } else if (policy_) {
        answer = policy_(box);
    }
    box.Answer = answer;
    boxes_.push_back(box);

    if (answer == Close) {
        modal->close();
        return;
    }
    if (answer != Escape) {
        for (auto [button, code] : kButtons)
            if (code == answer && mb->button(button)) {
                mb->button(button)->click();
                return;
            }
        ADD_FAILURE() << "message box \"" << box.Text << "\" has no button with code " << answer;
        boxes_.back().Answer = Escape;
    }
    PressEscape(modal);
}

bool QtBoxAnswerer::WaitForBoxes(std::size_t count, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (boxes_.size() < count && clock.elapsed() < timeoutMs)
        // The poll timer wakes the wait every few milliseconds.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return boxes_.size() >= count;
}
