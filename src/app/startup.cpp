#include "app/Unit1.h"
#include "checking/ui/Unit3.h"
#include "components/about.h"
#include "maintenance/ui/Unit2.h"

TForm1* Form1 = nullptr;
TAboutBox* AboutBox = nullptr;
TForm2* Form2 = nullptr;
TForm3* Form3 = nullptr;

void createApplicationWindows() {
    Form1 = new TForm1;
    AboutBox = new TAboutBox;
    Form2 = new TForm2;
    Form2->mainWindow = Form1;
    Form3 = new TForm3;
}

void destroyApplicationWindows() {
    // Reverse order of creation; the main window goes last, taking its
    // notification-area icon with it.
    delete Form3;
    Form3 = nullptr;
    delete Form2;
    Form2 = nullptr;
    delete AboutBox;
    AboutBox = nullptr;
    delete Form1;
    Form1 = nullptr;
}
