// Pelmora: how much lies in a directory tree.
//
// Module map (dependencies point downwards):
//   app/       main(), the start-up order, the command line and batch run, registry entries
//   ui/        the main window (Unit1: TForm1), the navigator widgets, the About box, help
//   output/    the data file export and the banded report (engine, form, preview)
//   list/      the watched list and the list-file format
//   stats/     the tree walker, counting, the Real48 byte total, FormatCount (no Qt)
//   platform/  adapters: paths, errors, volumes, locale and collation (no Qt); dialogs,
//              help viewer and printer (gui/)
//   cli/       pelmora-cli: the same services without a window
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel placeholder("Pelmora");
    placeholder.show();
    return app.exec();
}
