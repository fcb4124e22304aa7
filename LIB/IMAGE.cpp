#include "LIB/image.h"
long long TBuff(int NbCol, int taille) { return (static_cast<long long>(NbCol) * taille + 3) / 4 * 4; }
int SauveBMP(const char*, unsigned char**, int, int, int, const Color32*) { return -1; }
unsigned char** ChargeBMP(const char*, int*, int*, int*, Color32**) { return nullptr; }
