#include "app/ApplicationQt.h"

int main(int argc, char** argv) { return orderlink::RunApplication(argc, argv); }
