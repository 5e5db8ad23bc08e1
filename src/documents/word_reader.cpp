#include "documents/word_reader.h"

namespace ferretta::documents {

ReadResult readWordDocument(ZipArchive& /*archive*/, Format /*format*/, WordMode /*mode*/,
                            UnitSink& /*sink*/, const ReadLimits& /*limits*/) {
    return {ReadStatus::ForOffice, "not read here yet", 0};
}

}  // namespace ferretta::documents
