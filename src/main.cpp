#include "app/qt/app_main.h"

int main(int argc, char** argv) { return vr::RunVoduru(argc, argv); }
