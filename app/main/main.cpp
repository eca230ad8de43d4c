#include "app/acq_app.h"

int main(int argc, char** argv) {
    corvelle::CAcqApp app(argc, argv);
    return app.InitInstance();
}
