// Stands in for ZAL in the demo installation: it only tells which version it is, so that the replacement
// of ZAL.exe by the staged ZAL.upd shows when it is run before and after.
#include <cstdio>

int main() {
    std::printf("ZAL version %d\n", ZAL_STAND_IN_VERSION);
    return 0;
}
