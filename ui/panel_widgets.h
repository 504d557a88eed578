#pragma once

#include <QGroupBox>
#include <QWidget>

#include <vector>

class QAbstractButton;
class QButtonGroup;
class QRadioButton;
class QToolButton;

namespace morvane {

// A captioned group of radio items laid out in columns, with a selected index from -1
// (nothing selected) to the item count minus 1.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent);

    int ItemIndex() const;
    // Shows the index, clamped to -1 .. count - 1, without telling anyone.
    void SetItemIndex(int index);
    int Count() const { return static_cast<int>(items_.size()); }
    QRadioButton* Item(int index) const { return items_[index]; }

signals:
    // The user selected an item that was not selected before.
    void ItemClicked(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void LayOutItems();

    QButtonGroup* group_;
    std::vector<QRadioButton*> items_;
    int columns_;
};

// An up-down control: two arrow buttons side by side, left for down and right for up,
// without an edit field. It only reports the clicks; the position lives in its model.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget* parent);

    QToolButton* DownButton() const { return down_; }
    QToolButton* UpButton() const { return up_; }

signals:
    void Clicked(bool up);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* down_;
    QToolButton* up_;
};

// A flat button: no frame until the mouse is over it, the text beside an icon of the
// glyphs' size.
QToolButton* MakeFlatButton(QWidget* parent, const char* name, const QString& text,
                            const QRect& geometry);

// Unchecks every button of an exclusive group, which Qt otherwise refuses.
void UncheckAll(QButtonGroup& group);

} // namespace morvane
