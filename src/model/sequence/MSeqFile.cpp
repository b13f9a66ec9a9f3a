#include "model/sequence/MSeqFile.h"

#include "model/MProject.h"
#include "model/Services.h"

namespace cardmill {

void MSeqFile::SetOutPort(std::uint16_t value)
{
    if (value == viaOutPort)
        return;
    viaOutPort = value;
    if (services.project && !services.project->IsDirty())
        services.project->SetDirty();
}

} // namespace cardmill
