// Program entry: the application object, the three windows in their order,
// and the message loop until the main window closes.
#include "graph/graph_form.h"
#include "platform/vcl/forms.h"
#include "terminal/data_tip_form.h"
#include "terminal/main_form.h"

int main() {
    vcl::TApplication application;
    vcl::Application->Title = "Vostrel";
    vcl::Application->HelpFile = "vostrel.chm";
    vcl::Application->CreateForm<terminal::TMain>();
    vcl::Application->CreateForm<terminal::TfrmData>()->ScreenBounds = vcl::ScreenRect;
    vcl::Application->CreateForm<graph::TfGraph>();
    vcl::Application->Run();
    return 0;
}
