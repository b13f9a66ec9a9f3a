#include "model/MReadableFileDispatcher.h"
#include "model/bank/MParamFileRawSex.h"
#include "model/instrument/MInstFileCardmill.h"
#include "model/instrument/MInstFileLibrary.h"
#include "model/instrument/MInstFileSampleCell.h"
#include "model/instrument/MInstFileSfz.h"
#include "model/project/MProjectFile.h"
#include "model/sequence/MSeqFileMidi.h"
#include "model/sound/MSoundFile.h"
#include "model/sound/MSoundFileAIFF.h"
#include "model/sound/MSoundFileSFIL.h"
#include "model/sound/MSoundFileSndfile.h"
#include "model/sound/MSoundFileWAV.h"

namespace cardmill {

MSoundFileDispatcher::MSoundFileDispatcher(Services& services)
    : MReadableFileDispatcher(services, "sound file")
{
    Add(std::make_unique<MLibrarySampleInterpreter>(services));
    Add(std::make_unique<MSFILFormatInterpreter>(services));
    Add(std::make_unique<MAIFFFormatInterpreter>(services));
    Add(std::make_unique<MWAVFormatInterpreter>(services));
    // Asked last: our own readers keep the bytes they have always given.
    Add(std::make_unique<MSndfileFormatInterpreter>(services));
}

std::unique_ptr<MReadableFile> MSoundFileDispatcher::CreateRaw(const std::string& path) const
{
    auto sound = std::make_unique<MSoundFile>(services);
    if (!sound->OpenSound(path))
        return nullptr;
    return sound;
}

MInstFileDispatcher::MInstFileDispatcher(Services& services)
    : MReadableFileDispatcher(services, "instrument file")
{
    Add(std::make_unique<MSampleCellFormatInterpreter>(services));
    Add(std::make_unique<MCardmillFormatInterpreter>(services));
    Add(std::make_unique<MSfzFormatInterpreter>(services));
    Add(std::make_unique<MLibraryFormatInterpreter>(services));
}

MSeqFileDispatcher::MSeqFileDispatcher(Services& services)
    : MReadableFileDispatcher(services, "standard MIDI file")
{
    Add(std::make_unique<MMidiFormatInterpreter>(services));
}

MParamFileDispatcher::MParamFileDispatcher(Services& services)
    : MReadableFileDispatcher(services, "SysEx file")
{
    Add(std::make_unique<MRawSexFormatInterpreter>(services));
}

MProjectFileDispatcher::MProjectFileDispatcher(Services& services)
    : MReadableFileDispatcher(services, "project file")
{
    Add(std::make_unique<MProjFileInterpreter>(services));
}

} // namespace cardmill
