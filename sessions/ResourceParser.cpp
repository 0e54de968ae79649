// SPDX-FileCopyrightText: 2026 Korvane
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessions/ResourceParser.h"

#include "sessions/ResourceGrammar.h"
#include "sessions/SessionTable.h"

#include <QStringList>

#include <set>

namespace {

// Interfaces that VISA names but that Tallix has no session for.
const char *const FOREIGN_INTERFACES[] = {"GPIB-VXI", "VXI", "PXI"};

// The interfaces of the table, each once, in its order.
QStringList KnownInterfaces()
{
    QStringList names;
    for (const CSessionRow &row : SessionTable())
        if (!names.contains(QLatin1String(row.interfaceName)))
            names << QLatin1String(row.interfaceName);
    return names;
}

QString Knows()
{
    return QStringLiteral("Tallix knows ") + ListOf(KnownInterfaces(), QStringLiteral("and"));
}

// The row whose interface starts the first field, with the rest of that
// field as the text's board part; null, said, when none does.
const CSessionRow *FindInterface(CResourceText &text)
{
    const QString &first = text.Tokens().first().text;
    for (const char *foreign : FOREIGN_INTERFACES) {
        const QLatin1String name(foreign);
        if (first.startsWith(name, Qt::CaseInsensitive) &&
            (first.size() == name.size() || !IsAsciiLetter(first[name.size()]))) {
            text.Fail(QStringLiteral("%1 resources are not supported (%2)").arg(name, Knows()));
            return nullptr;
        }
    }
    for (const CSessionRow &row : SessionTable()) {
        const QLatin1String name(row.interfaceName);
        if (!first.startsWith(name, Qt::CaseInsensitive))
            continue;
        const QString rest = first.mid(name.size());
        // "TCPIPX" is another name, not TCPIP with a board "X"; but after
        // ASRL comes a device path or anything else the port may be called.
        if (row.firstField == CSessionRow::FirstField::Board && !rest.isEmpty() && IsAsciiLetter(rest[0]))
            continue;
        text.SetBoardPart(rest);
        return &row;
    }
    qsizetype letters = 0;
    while (letters < first.size() && (IsAsciiLetter(first[letters]) || first[letters] == QLatin1Char('-')))
        ++letters;
    if (letters == 0)
        text.Fail(QStringLiteral("it does not start with an interface name (%1)")
                      .arg(ListOf(KnownInterfaces(), QStringLiteral("or"))));
    else
        text.Fail(QStringLiteral("unknown interface '%1' (%2)").arg(first.left(letters), Knows()));
    return nullptr;
}

// The row of the interface that serves `resourceClass`; null, said, when
// none does.
const CSessionRow *ServedClass(CResourceText &text, const CSessionRow &interfaceRow,
                               ResourceClass resourceClass)
{
    if (const CSessionRow *row = SessionRowFor(QLatin1String(interfaceRow.interfaceName), resourceClass))
        return row;
    std::set<ResourceClass> served;
    QStringList serving;
    for (const CSessionRow &row : SessionTable()) {
        served.insert(row.resourceClass);
        if (row.resourceClass == resourceClass && !serving.contains(QLatin1String(row.interfaceName)))
            serving << QLatin1String(row.interfaceName);
    }
    const QLatin1String name = ResourceClassName(resourceClass);
    if (!serving.isEmpty()) {
        text.Fail(QStringLiteral("only %1 resources can be %2 resources")
                      .arg(ListOf(serving, QStringLiteral("and")), name));
        return nullptr;
    }
    QStringList reached;
    for (const ResourceClass each : served)
        reached << ResourceClassName(each);
    text.Fail(QStringLiteral("%1 resources are not supported (Tallix reaches %2 resources)")
                  .arg(name, ListOf(reached, QStringLiteral("and"))));
    return nullptr;
}

bool Parse(CResourceText &text, CResource &r)
{
    r.text = text.Text();
    if (text.Text().isEmpty())
        return text.Fail(QStringLiteral("it is empty"));
    if (!text.Split())
        return false;
    const CSessionRow *row = FindInterface(text);
    if (!row)
        return false;
    r.interfaceName = QLatin1String(row->interfaceName);
    if (row->firstField == CSessionRow::FirstField::Board && !text.Board(r.board))
        return false;
    r.resourceClass = text.FindClass();
    row = ServedClass(text, *row, r.resourceClass);
    if (!row || !row->parse(text, r))
        return false;
    if (text.ClassEnd() < text.Text().size())
        return text.Trailing(text.ClassEnd());
    return true;
}

} // namespace

bool ParseResource(const QString &text, CResource &resource, QString &error)
{
    CResourceText reading(text);
    CResource parsed;
    if (!Parse(reading, parsed)) {
        error = reading.Error();
        return false;
    }
    resource = parsed;
    return true;
}

QString CanonicalResource(const CResource &resource)
{
    const CSessionRow *row = SessionRowFor(resource.interfaceName, resource.resourceClass);
    return row ? row->canonical(resource) : QString();
}
