#include "ui/panel_widgets.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QToolButton>

#include <algorithm>

#include "ui/glyphs.h"

namespace morvane {

namespace {

// Room for the group's caption above the items, and the margins around them.
constexpr int kCaptionHeight = 14;
constexpr int kMargin = 4;
constexpr int kItemLeft = 8;
constexpr int kItemRight = 2;

} // namespace

void UncheckAll(QButtonGroup& group) {
    const QSignalBlocker blocker(&group);
    const bool exclusive = group.exclusive();
    group.setExclusive(false);
    for (QAbstractButton* button : group.buttons()) {
        const QSignalBlocker buttonBlocker(button);
        button->setChecked(false);
    }
    group.setExclusive(exclusive);
}

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns,
                         QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)), columns_(columns) {
    for (int i = 0; i < items.size(); ++i) {
        auto* item = new QRadioButton(items[i], this);
        group_->addButton(item, i);
        items_.push_back(item);
    }
    // Toggled, not clicked: a click on the item already selected changes nothing.
    connect(group_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            emit ItemClicked(id);
    });
}

int TRadioGroup::ItemIndex() const {
    return group_->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    index = std::clamp(index, -1, Count() - 1);
    if (index == ItemIndex())
        return;
    if (index < 0) {
        UncheckAll(*group_);
        return;
    }
    const QSignalBlocker blocker(group_);
    const QSignalBlocker itemBlocker(items_[index]);
    items_[index]->setChecked(true);
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    LayOutItems();
}

void TRadioGroup::LayOutItems() {
    const int rows = (Count() + columns_ - 1) / columns_;
    const int columnWidth = (width() - kItemLeft - kItemRight) / columns_;
    const int rowHeight = (height() - kCaptionHeight - kMargin) / std::max(rows, 1);
    for (int i = 0; i < Count(); ++i) {
        const int column = i / rows;
        const int row = i % rows;
        items_[i]->setGeometry(kItemLeft + column * columnWidth, kCaptionHeight + row * rowHeight,
                               columnWidth, rowHeight);
    }
}

TUpDown::TUpDown(QWidget* parent)
    : QWidget(parent), down_(new QToolButton(this)), up_(new QToolButton(this)) {
    down_->setArrowType(Qt::LeftArrow);
    up_->setArrowType(Qt::RightArrow);
    for (QToolButton* button : {down_, up_}) {
        // Holding an arrow steps on, as an up-down control does.
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
    }
    connect(down_, &QToolButton::clicked, this, [this] { emit Clicked(false); });
    connect(up_, &QToolButton::clicked, this, [this] { emit Clicked(true); });
}

void TUpDown::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int half = width() / 2;
    down_->setGeometry(0, 0, half, height());
    up_->setGeometry(half, 0, width() - half, height());
}

QToolButton* MakeFlatButton(QWidget* parent, const char* name, const QString& text,
                            const QRect& geometry) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setIconSize(QSize(kGlyphSize, kGlyphSize));
    button->setGeometry(geometry);
    return button;
}

} // namespace morvane
