#include "setuptool.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    setuptool window;
    window.show();
    return app.exec();
}
