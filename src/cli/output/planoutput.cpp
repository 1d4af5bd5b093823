#include "planoutput.h"

#include "addressrules.h"
#include "textescape.h"

#include <QStringList>

namespace PlanOutput {

QByteArray csv(const QList<PlanRow> &rows)
{
    using TextEscape::CellKind;
    using TextEscape::csvCell;
    QString text = QStringLiteral("serial,name,current_address,stored_address,new_address,"
                                  "set_time\r\n");
    for (const PlanRow &row : rows) {
        const QStringList cells {
            csvCell(QString::number(row.serial), CellKind::Number),
            csvCell(row.name),
            row.currentAddress,
            row.storedAddress,
            AddressRules::format(row.newAddress),
            row.setTime ? QStringLiteral("yes") : QStringLiteral("no"),
        };
        text += cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

} // namespace PlanOutput
