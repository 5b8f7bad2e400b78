// Entry point of the Emulex build.
#include "components/emulex/component.h"
#include "framework/entry.h"

int main(int argc, char** argv) { return hbafw::ComponentMain<EmulexComp::CComponent>(argc, argv, "hbafw-emulex"); }
