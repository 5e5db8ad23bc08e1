#pragma once
// Ideograph look-alikes: characters that look like (and stand for) a CJK unified ideograph but
// have other code points, so that a search for the ordinary ideograph does not find them.

namespace ferretta::pdf {

// The unified ideograph a look-alike stands for: a Kangxi radical (U+2F00-U+2FD5), a CJK
// radicals-supplement form with an obvious unified equivalent (U+2E80-U+2EF3) or a CJK
// compatibility ideograph (U+F900-U+FAFF, U+2F800-U+2FA1F, by its canonical decomposition).
// Vertical presentation forms (U+FE10-U+FE19, U+FE30-U+FE48) become the character they stand
// for in horizontal text ("︒" is "。"), so that vertical punctuation matches too.
// Every other code point, including invalid ones, comes back unchanged. A table lookup, cheap
// enough for every character of every page.
char32_t unifyLookalike(char32_t c);

}  // namespace ferretta::pdf
