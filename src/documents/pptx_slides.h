#pragma once
#include <string>
#include <string_view>

#include "documents/read_limits.h"
#include "documents/slide_texts.h"
#include "documents/zip_archive.h"

namespace ferretta::documents {

// Reads the slides of an Open XML presentation (.pptx) into `texts`, in the order of the
// presentation's slide list, each shape's text as Impress reads it. Empty when every slide was
// read; otherwise why the office must read the document (not a presentation, a missing or
// damaged part, a construct whose text the office may read otherwise), and `texts` is to be
// thrown away.
std::string readPptxSlides(ZipArchive& archive, SlideTexts& texts, const ReadLimits& limits);

// The zip entry that a relationship of the part `source` names with `target`: relative to the
// source's folder, or from the package root when it starts with '/'. Empty for a target that
// leaves the package or that this reader does not resolve (escaped characters, a URL).
std::string resolvePartTarget(std::string_view source, std::string_view target);

}  // namespace ferretta::documents
