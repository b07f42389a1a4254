#include "app/run_modes.h"

int main() {
    return tsl::runApplication();
}
