#pragma once
// TRadioGroup: the choices of the parameter and port dialogs. Its buttons are named
// "<group>_<index>" and fill the columns one after the other.
#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

namespace nx7
{

// A titled group of exclusive radio buttons with an item index: -1 = none selected.
class TRadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    TRadioGroup(const QString& objectName, const QString& title, const QStringList& items, int columns,
                QWidget* parent = nullptr);

    int ItemIndex() const;
    // An index past the last entry selects the last one; a negative one selects none.
    void SetItemIndex(int index);
    int Count() const;
    QRadioButton* Item(int index) const;

private:
    QButtonGroup* m_group;
};

} // namespace nx7
