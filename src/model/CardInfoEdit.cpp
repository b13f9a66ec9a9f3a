#include "model/CardInfoEdit.h"

#include "model/MProject.h"
#include "model/TextEncoding.h"
#include "platform/Prompter.h"

namespace cardmill {

CardInfo ReadCardInfo(const MProject& project)
{
    return { project.GetCardName(), project.GetVersion(), project.GetCardSizeToken(),
        project.GetTarget() };
}

bool ApplyCardInfo(MProject& project, const CardInfo& info, Prompter& prompter)
{
    if (info.name.empty() || info.version.empty()) {
        ReportFailure(prompter, "Please enter both the card name and version.");
        return false;
    }
    if (info.target != project.GetTarget()) {
        if (info.target == MProject::kPercula) {
            // Percula cards have no drum groups: their files would be lost silently.
            for (int group = 8; group <= 10; ++group) {
                if (project.CountItems(group) > 0) {
                    ReportFailure(prompter,
                        "This project contains a sound or instrument file in a drum group.  "
                        "Choose a target other than Percula or remove all files from all "
                        "drum groups.");
                    return false;
                }
            }
        }
        if (project.CountItems(MProject::kProgramGroup) > 0)
            prompter.Show("This project contains a program bank.  Be sure the file was intended "
                          "for the new target device.",
                Icon::Warning, Buttons::Ok);
    }
    project.SetCardName(info.name);
    project.SetVersion(info.version);
    project.SetCardSizeToken(info.sizeToken);
    project.SetTarget(info.target);
    return true;
}

std::optional<std::string> AcceptTyped(
    std::string_view typed, std::string_view what, Prompter& prompter)
{
    std::string message;
    auto card = TypedCardText(typed, what, message);
    if (!card)
        ReportFailure(prompter, message);
    else if (!message.empty())
        prompter.Show(message, Icon::Information, Buttons::Ok);
    return card;
}

} // namespace cardmill
