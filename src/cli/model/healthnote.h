#ifndef HEALTHNOTE_H
#define HEALTHNOTE_H

#include <QString>

// Something a technician should act on, about a device or about the run itself. `code` is
// stable for scripts (docs/cli.md lists them), `text` says what it means and what to do.
struct HealthNote
{
    QString code;
    QString text;
};

#endif // HEALTHNOTE_H
