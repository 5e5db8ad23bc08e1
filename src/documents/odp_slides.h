#pragma once
#include <string>

#include "documents/read_limits.h"
#include "documents/slide_texts.h"
#include "documents/zip_archive.h"

namespace ferretta::documents {

// Reads the slides of an OpenDocument presentation (.odp) into `texts`, each shape's text as
// Impress reads it. Empty when every slide was read; otherwise why the office must read the
// document (another kind of document, encrypted, damaged, a construct whose text the office
// may read otherwise), and `texts` is to be thrown away.
std::string readOdpSlides(ZipArchive& archive, SlideTexts& texts, const ReadLimits& limits);

}  // namespace ferretta::documents
