// NRUTIL: zero-filled matrices (row-pointer tables) and vectors of seven
// element types, with their release functions.
//
//   fmatrice  ucmatrice  usmatrice  smatrice  imatrice  dmatrice  ldmatrice
//   ucvecteur usvecteur  svecteur   ivecteur  dvecteur  fvecteur
//   fr<name>  releases what <name> returned
//
// A matrix is a table of NbLig row pointers to zero-filled rows of NbCol
// elements, reached as Mat[line][column]; the table and its rows are one
// block (large ones in huge pages where the system grants them), and
// fr<name> releases it whole. Allocators take the columns first. A zero
// count or an allocation that cannot be served gives null; a partly built
// matrix is never handed out (what was built is released). Nothing here
// prints, keeps state or ends the program.
//
// The program itself uses ucmatrice and frucmatrice (the image planes).
// The other element types are kept as the image store's whole set, for
// callers of the installed library; only the tests call them here.
#pragma once

float** fmatrice(int NbCol, int NbLig);
unsigned char** ucmatrice(int NbCol, int NbLig);
unsigned short** usmatrice(int NbCol, int NbLig);
short** smatrice(int NbCol, int NbLig);
int** imatrice(int NbCol, int NbLig);
double** dmatrice(int NbCol, int NbLig);
long double** ldmatrice(int NbCol, int NbLig);

void frfmatrice(float** Mat, int NbLig);
void frucmatrice(unsigned char** Mat, int NbLig);
void frusmatrice(unsigned short** Mat, int NbLig);
void frsmatrice(short** Mat, int NbLig);
void frimatrice(int** Mat, int NbLig);
void frdmatrice(double** Mat, int NbLig);
void frldmatrice(long double** Mat, int NbLig);

unsigned char* ucvecteur(int NbCol);
unsigned short* usvecteur(int NbCol);
short* svecteur(int NbCol);
int* ivecteur(int NbCol);
double* dvecteur(int NbCol);
float* fvecteur(int NbCol);

void frucvecteur(unsigned char* Mat);
void frusvecteur(unsigned short* Mat);
void frsvecteur(short* Mat);
void frivecteur(int* Mat);
void frdvecteur(double* Mat);
void frfvecteur(float* Mat);
