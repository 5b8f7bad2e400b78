// Entry point of the QLogic build.
#include "components/qlogic/component.h"
#include "framework/entry.h"

int main(int argc, char** argv) { return hbafw::ComponentMain<QLogicComp::CComponent>(argc, argv, "hbafw-qlogic"); }
