#include "dialogs/radio_group.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>
#include <algorithm>

namespace nx7
{

TRadioGroup::TRadioGroup(const QString& objectName, const QString& title, const QStringList& items,
                         int columns, QWidget* parent)
    : QGroupBox(title, parent)
    , m_group(new QButtonGroup(this))
{
    setObjectName(objectName);
    auto* layout = new QGridLayout(this);
    columns = std::max(columns, 1);
    const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items.at(i), this);
        button->setObjectName(objectName + QLatin1Char('_') + QString::number(i));
        m_group->addButton(button, i);
        // Filled column by column.
        layout->addWidget(button, rows ? i % rows : 0, rows ? i / rows : 0);
    }
}

int TRadioGroup::ItemIndex() const
{
    return m_group->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (index >= Count())
        index = Count() - 1;
    if (index >= 0) {
        m_group->button(index)->setChecked(true);
        return;
    }
    m_group->setExclusive(false);
    for (QAbstractButton* button : m_group->buttons())
        button->setChecked(false);
    m_group->setExclusive(true);
}

int TRadioGroup::Count() const
{
    return static_cast<int>(m_group->buttons().size());
}

QRadioButton* TRadioGroup::Item(int index) const
{
    return qobject_cast<QRadioButton*>(m_group->button(index));
}

} // namespace nx7
