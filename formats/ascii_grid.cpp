#include "formats/ascii_grid.h"
#include "platform/console.h"
void ChargeASC(const std::string& nomim) { stop_run("\n\tNo File  " + nomim + " \n", true); }
void SauveASC(const std::string&) {}
