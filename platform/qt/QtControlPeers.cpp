#include "platform/qt/QtControlPeers.h"

#include "platform/qt/QtConvert.h"
#include "platform/ui/Application.h"
#include "platform/ui/Controls.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace platform {

namespace {

class ClickLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        QLabel::mousePressEvent(event);
        if (event->button() == Qt::LeftButton && onClick)
            onClick();
    }
};

QStringList ToQTexts(const TStrings& items)
{
    QStringList list;
    for (const auto& s : items)
        list << ToQText(s);
    return list;
}

} // namespace

// --- TLabel ---

QtLabelPeer::QtLabelPeer(Application& app, TLabel& label, QWidget* parent)
    : QtControlPeer(app, label, new ClickLabel(parent))
{
    auto* w = static_cast<ClickLabel*>(widget_.data());
    // Texts come from language files and from the update server: never rich text.
    w->setTextFormat(Qt::PlainText);
    w->setWordWrap(false);
    w->onClick = [this] { Guarded([this] { control_.Click(); }); };
}

void QtLabelPeer::ApplyText()
{
    static_cast<QLabel*>(widget_.data())->setText(ToQText(control_.Caption()));
    ApplyBounds();
}

void QtLabelPeer::ApplyBounds()
{
    const QSize hint = widget_->sizeHint();
    widget_->setGeometry(control_.Left(), control_.Top(), std::max(control_.Width(), hint.width()),
                         std::max(control_.Height(), hint.height()));
}

void QtLabelPeer::ApplyFontAndColors()
{
    QtControlPeer::ApplyFontAndColors();
    ApplyBounds();
}

// --- TButton, TBitBtn ---

QtButtonPeer::QtButtonPeer(Application& app, TButton& button, QWidget* parent)
    : QtControlPeer(app, button, new QPushButton(parent)), button_(button)
{
    auto* b = static_cast<QPushButton*>(widget_.data());
    // A focused button takes Enter, as native buttons do outside dialogs too.
    b->setAutoDefault(true);
    QObject::connect(b, &QPushButton::clicked, b, [this] { Guarded([this] { control_.Click(); }); });
}

void QtButtonPeer::SyncAll()
{
    if (widget_)
        static_cast<QPushButton*>(widget_.data())->setDefault(button_.Default);
    QtControlPeer::SyncAll();
}

void QtButtonPeer::ApplyText() { static_cast<QPushButton*>(widget_.data())->setText(ToQText(control_.Caption())); }

// --- TSpeedButton ---

QtSpeedButtonPeer::QtSpeedButtonPeer(Application& app, TSpeedButton& button, QWidget* parent)
    : QtControlPeer(app, button, new QToolButton(parent))
{
    auto* b = static_cast<QToolButton*>(widget_.data());
    b->setAutoRaise(true);
    QObject::connect(b, &QToolButton::clicked, b, [this] { Guarded([this] { control_.Click(); }); });
}

void QtSpeedButtonPeer::ApplyText() { static_cast<QToolButton*>(widget_.data())->setText(ToQText(control_.Caption())); }

// --- TMemo ---

QtMemoPeer::QtMemoPeer(Application& app, TMemo& memo, QWidget* parent)
    : QtControlPeer(app, memo, new QPlainTextEdit(parent)), memo_(memo)
{
}

void QtMemoPeer::SyncAll()
{
    if (auto* e = static_cast<QPlainTextEdit*>(widget_.data())) {
        e->setReadOnly(memo_.ReadOnly);
        e->setFrameShape(memo_.Border ? QFrame::StyledPanel : QFrame::NoFrame);
    }
    QtControlPeer::SyncAll();
}

void QtMemoPeer::Apply(TProperty what)
{
    if (what != TProperty::Lines) {
        QtControlPeer::Apply(what);
        return;
    }
    QStringList lines = ToQTexts(memo_.Lines());
    static_cast<QPlainTextEdit*>(widget_.data())->setPlainText(lines.join(QLatin1Char('\n')));
}

void QtMemoPeer::ApplyFontAndColors()
{
    QtControlPeer::ApplyFontAndColors();
    QPalette pal = widget_->palette();
    const QColor back = ToQColor(memo_.Color(), QApplication::palette(widget_));
    if (back.isValid()) {
        pal.setColor(QPalette::Base, back);
        widget_->setPalette(pal);
    }
}

// --- TProgressBar ---

QtProgressBarPeer::QtProgressBarPeer(Application& app, TProgressBar& bar, QWidget* parent)
    : QtControlPeer(app, bar, new QProgressBar(parent)), bar_(bar)
{
    // The native bar shows no percentage text.
    static_cast<QProgressBar*>(widget_.data())->setTextVisible(false);
}

void QtProgressBarPeer::Apply(TProperty what)
{
    if (what != TProperty::Range && what != TProperty::Position) {
        QtControlPeer::Apply(what);
        return;
    }
    auto* b = static_cast<QProgressBar*>(widget_.data());
    if (bar_.Max() <= bar_.Min()) {
        b->setRange(0, 0);
        return;
    }
    b->setRange(bar_.Min(), bar_.Max());
    b->setValue(std::clamp(bar_.Position(), bar_.Min(), bar_.Max()));
}

// --- TEdit ---

QtEditPeer::QtEditPeer(Application& app, TEdit& edit, QWidget* parent) : QtControlPeer(app, edit, new QLineEdit(parent))
{
    auto* e = static_cast<QLineEdit*>(widget_.data());
    QObject::connect(e, &QLineEdit::textEdited, e,
                     [this](const QString& text) { Guarded([&] { control_.SetText(FromQString(text)); }); });
}

void QtEditPeer::ApplyText()
{
    auto* e = static_cast<QLineEdit*>(widget_.data());
    const QString text = QString::fromStdString(control_.Text());
    // The text the user just typed comes back here; setting it again would move the cursor.
    if (e->text() != text)
        e->setText(text);
}

// --- TCheckBox, TRadioButton ---

QtCheckBoxPeer::QtCheckBoxPeer(Application& app, TCheckBox& box, QWidget* parent)
    : QtControlPeer(app, box, new QCheckBox(parent))
{
}

void QtCheckBoxPeer::ApplyText() { static_cast<QCheckBox*>(widget_.data())->setText(ToQText(control_.Caption())); }

QtRadioButtonPeer::QtRadioButtonPeer(Application& app, TRadioButton& button, QWidget* parent)
    : QtControlPeer(app, button, new QRadioButton(parent))
{
}

void QtRadioButtonPeer::ApplyText()
{
    static_cast<QRadioButton*>(widget_.data())->setText(ToQText(control_.Caption()));
}

// --- TComboBox ---

QtComboBoxPeer::QtComboBoxPeer(Application& app, TComboBox& box, QWidget* parent)
    : QtControlPeer(app, box, new QComboBox(parent)), box_(box)
{
    auto* c = static_cast<QComboBox*>(widget_.data());
    // Only the user's choice: activated is not emitted for changes made here.
    QObject::connect(c, &QComboBox::activated, c, [this](int index) { Guarded([&] { box_.SetItemIndex(index); }); });
}

void QtComboBoxPeer::Apply(TProperty what)
{
    auto* c = static_cast<QComboBox*>(widget_.data());
    switch (what) {
    case TProperty::Items:
        c->clear();
        c->addItems(ToQTexts(box_.Items()));
        c->setCurrentIndex(box_.ItemIndex());
        break;
    case TProperty::ItemIndex:
        c->setCurrentIndex(box_.ItemIndex());
        break;
    default:
        QtControlPeer::Apply(what);
    }
}

// --- TGroupBox, TRadioGroup ---

QtGroupBoxPeer::QtGroupBoxPeer(Application& app, TCustomGroupBox& box, QWidget* parent)
    : QtControlPeer(app, box, new QGroupBox(parent)), radioGroup_(dynamic_cast<TRadioGroup*>(&box))
{
}

void QtGroupBoxPeer::ApplyText() { static_cast<QGroupBox*>(widget_.data())->setTitle(ToQText(control_.Caption())); }

void QtGroupBoxPeer::Apply(TProperty what)
{
    if (what == TProperty::Items && radioGroup_)
        ApplyItems();
    else
        QtControlPeer::Apply(what);
}

void QtGroupBoxPeer::ApplyItems()
{
    auto* layout = static_cast<QVBoxLayout*>(widget_->layout());
    if (!layout)
        layout = new QVBoxLayout(widget_);
    const auto old = widget_->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    const auto& items = radioGroup_->Items();
    for (size_t i = 0; i < items.size(); ++i) {
        if (i < static_cast<size_t>(old.size())) {
            old[static_cast<qsizetype>(i)]->setText(ToQText(items[i]));
        } else {
            auto* b = new QRadioButton(ToQText(items[i]), widget_);
            layout->addWidget(b);
        }
    }
    for (qsizetype i = static_cast<qsizetype>(items.size()); i < old.size(); ++i)
        delete old[i];
}

// --- TListView ---

QtListViewPeer::QtListViewPeer(Application& app, TListView& view, QWidget* parent)
    : QtControlPeer(app, view, new QTreeWidget(parent)), view_(view)
{
    auto* t = static_cast<QTreeWidget*>(widget_.data());
    t->setRootIsDecorated(false);
}

void QtListViewPeer::Apply(TProperty what)
{
    auto* t = static_cast<QTreeWidget*>(widget_.data());
    switch (what) {
    case TProperty::Columns:
        t->setColumnCount(std::max<int>(1, static_cast<int>(view_.Columns().size())));
        t->setHeaderLabels(ToQTexts(view_.Columns()));
        break;
    case TProperty::Rows:
        t->clear();
        for (const auto& row : view_.Rows()) {
            QStringList cells = ToQTexts(row.SubItems);
            cells.prepend(ToQText(row.Caption));
            t->addTopLevelItem(new QTreeWidgetItem(cells));
        }
        break;
    default:
        QtControlPeer::Apply(what);
    }
}

} // namespace platform
