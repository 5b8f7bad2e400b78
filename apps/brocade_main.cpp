// Entry point of the Brocade build.
#include "components/brocade/component.h"
#include "framework/entry.h"

int main(int argc, char** argv) { return hbafw::ComponentMain<BrocadeComp::CComponent>(argc, argv, "hbafw-brocade"); }
