#ifndef TEXTESCAPE_H
#define TEXTESCAPE_H

#include <QByteArray>
#include <QString>

// Text that came off the wire, made safe for where it is shown. Device names are 13 bytes of
// Latin-1 with NUL padding, and a device may put anything in them: control characters,
// terminal escape sequences, quotes, commas, a leading '='.
namespace TextEscape {

// The name without the NUL padding at its end (NULs inside it stay).
QByteArray trimmedName(const QByteArray &raw);

// Text for a terminal or a table: C0 controls, DEL and the C1 controls U+0080..U+009F are
// written \xNN (lower-case hex), a backslash is doubled; every other character is itself.
// Nothing in the result moves a terminal's cursor or starts an escape sequence.
QString forTerminal(const QString &text);
// The same for Latin-1 bytes, such as a device's name: each byte is its Latin-1 character.
QString forTerminal(const QByteArray &latin1);

// The bytes as lower-case hex pairs separated by spaces ("73 74 74"), or without separator.
QString hex(const QByteArray &bytes, bool spaced = true);

enum class CellKind { Text, Number };

// One CSV cell (RFC 4180): quoted when it holds a comma, a quote, CR or LF, or begins or ends
// with a space, quotes doubled. A text cell beginning with '=', '+', '-' or '@' is prefixed
// with a ' and quoted, so that no spreadsheet takes it for a formula; a negative number is
// quoted as it is.
QString csvCell(const QString &text, CellKind kind = CellKind::Text);

} // namespace TextEscape

#endif // TEXTESCAPE_H
