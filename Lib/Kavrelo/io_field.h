// Velocity-field files: the text motion file and its five-column variant,
// and the compact binary format with two bytes per velocity component.
// U and V arrays are nb_col x nb_lig floats, row-major (column j of row i at
// i * nb_col + j); U along the columns, V along the rows, in pixels.
#ifndef VELMORA_IO_FIELD_H
#define VELMORA_IO_FIELD_H

// Motion file nom: "nb_col nb_lig\n", "#i\tj\tU\tV\n", then for each row i and
// column j "i\tj\tU\tV\n" (U, V with 6 decimals). The file is written under
// a temporary name in nom's folder and renamed to nom once complete. A file
// that cannot be created prints "Can't create <nom> !" on standard output
// and exits with status 1; so does a write that fails ("Can't write <nom>
// !"), which leaves nom as it was.
void write_champ(const float* U, const float* V, short nb_col, short nb_lig, const char* nom);

// Five-column motion file: as write_champ, with the title "#i\tj\tU\tV\tf"
// and the value of Im (same layout as U) as a fifth column.
void write_champ_im(const float* U, const float* V, const float* Im, short nb_col, short nb_lig,
                    const char* nom);

// Compact file name_field: 4 header bytes (rows / 256, rows % 256,
// columns / 256, columns % 256), then the U plane and the V plane, two bytes
// per value, rows outer. A value v is stored as f = v + 1 (v >= 0) or
// v - 1 (v < 0): byte 0 the integer part of f wrapped to a signed byte,
// byte 1 its fraction in steps of 1/200 (0..199); non-finite values are
// stored as 0. Round trip within 0.005 for -128 < v < 127.
// *error: 0 written; 1 file not created or not written (perror
// "fichier vecteurs"); 2 buffer not allocated or negative sizes (perror
// "allocation"). The file is created with mode 0644 under a temporary name
// and renamed to name_field once complete: on error name_field is as it was.
void write_field(const char* name_field, const float* ima_u, const float* ima_v, short nbcol,
                 short nblig, short* error);

// Reads the 4-byte header of name_field (bytes unsigned): *nbcol =
// byte2 * 256 + byte3, *nblig = byte0 * 256 + byte1. *error: 0, or 1 when the
// file cannot be opened or is shorter than 4 bytes (perror "fichier vect.";
// sizes untouched).
void read_entete_field(const char* name_field, short* nbcol, short* nblig, short* error);

// Decodes col * lig values of the U plane into field_u and of the V plane
// into field_v (each col * lig floats, caller-owned), after the header,
// whose sizes are not compared with col and lig. A value whose two bytes are
// missing from a short file reads as 0. *error: 0; 1 file not opened
// (perror "fichier"); 2 buffer not allocated or negative sizes (perror
// "allocation"); the arrays are untouched on error.
void read_field(const char* name_field, float* field_u, float* field_v, short col, short lig,
                short* error);

#endif
