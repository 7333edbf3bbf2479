#include "ui/Application.h"
#include "windows/main/frmKestrine.h"

// Start-up creates the main window, which loads and shows itself; from then
// on the program answers the user in the event loop until no window of it
// remains open.
int main(int /*argc*/, char *argv[]) {
  ui::Application application(argv[0]);
  frmKestrine mainWindow;
  mainWindow.Show();
  return application.Run();
}
