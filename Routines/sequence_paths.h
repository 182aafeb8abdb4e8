// Path slots of the list file: the file that names the two input images,
// the output prefix, a fourth (unused) line and, with an initial field,
// the path of that field.
#ifndef VELMORA_SEQUENCE_PATHS_H
#define VELMORA_SEQUENCE_PATHS_H

#include <string>

// Capacity of one path slot in bytes, terminator included: a slot holds a
// path of at most kSeqPathSlot - 1 characters.
constexpr int kSeqPathSlot = 500;

// Allocates nbIm path slots: an array of nbIm pointers (array form of new),
// each to a buffer of kSeqPathSlot characters, not initialised. With nbIm < 1
// only the (empty) pointer array is made. Release with free_seqPath.
char** alloc_seqPath(int nbIm);

// Releases the slots made by alloc_seqPath(nbIm).
void free_seqPath(char** fileIm, int nbIm);

// Reads the first nbIm lines of the text file ifn1 (lines ended by a line
// feed; the last one may lack it; a carriage return before the line feed is
// removed) into fileIm[0 .. nbIm-1], each copied with its terminator.
// Lines nbNeeded + 1 to nbIm may be missing: their slots receive an empty
// text. fileIm must hold at least nbIm slots of kSeqPathSlot bytes. A line
// is read with a bounded reader: a file that cannot be opened or read, that
// has fewer than nbNeeded lines, or a line of kSeqPathSlot characters or
// more or holding a NUL byte, is reported on standard error with the file's
// name and ends the program with exit status 1; no slot is ever written
// past its end.
void read_path(std::string ifn1, int nbIm, char** fileIm, int nbNeeded);

// read_path with every one of the nbIm lines needed.
void read_path(std::string ifn1, int nbIm, char** fileIm);

#endif
