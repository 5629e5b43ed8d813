// A guess at what the mesh library's repair will make of a large binary STL, from the file alone.
// The read and the repair take one processor for most of the time to the first frame; the guess
// lets the other one draw meanwhile. The repair of a clean closed mesh keeps the file's facets as
// they are and gives each the normal the library's value fix computes, so the guess is the file's
// facets with that fix applied (by the library, a block at a time) and their fronts known. It is
// kept only when the repaired record turns out to hold the same facets bit for bit, closed
// (STLMatchesGuess); otherwise the repaired record is converted as always.
#pragma once

#include "viewer/model/shape.h"
#include "viewer/readers/readSTLObj.h"

#include <cstddef>

// Below this many facets the repair is over about as soon as a guess could be drawn.
constexpr std::size_t kGuessFacetsFrom = std::size_t(1) << 16;

// Fills the empty `part` as STLFormatObj fills it from a clean closed repair, from the binary STL
// open at `fd` (read with pread: the descriptor's offset is left alone), all but the facet list
// and index pool: those wait for CompleteSTLGuess, so that they need no memory while the library
// holds its own (DrawUnsharedObject draws the Part without them). False, with the part left
// empty, when the file is no binary STL of at least kGuessFacetsFrom facets whose corners are all
// finite, or it cannot be read whole, or the memory is not there.
bool GuessSTLObject(int fd, Part &part);
// Gives a guess that held its facet list and index pool.
void CompleteSTLGuess(Part &part);
// Empties the arrays the guess filled, giving their memory back.
void DropSTLGuess(Part &part);
// Whether the repaired record holds exactly the guessed facets, and its surface is closed.
bool STLMatchesGuess(const STLObj &obj, const Part &part);
