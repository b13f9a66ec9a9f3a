#include "model/CardInfoEdit.h"

#include "model/MProject.h"
#include "model/TextEncoding.h"
#include "model/TextFields.h"
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

std::string GroupTitle(int group)
{
    return group < 8 ? "Keyboard Group " + std::to_string(group + 1)
                     : "Drum Group " + std::to_string(group - 7);
}

std::string GroupToken(int group)
{
    if (group < 8)
        return "k" + std::to_string(group + 1);
    if (group < MProject::kSoundGroups)
        return "d" + std::to_string(group - 7);
    return group == MProject::kSequenceGroup ? "seq" : "prog";
}

std::optional<int> GroupOfToken(std::string_view text)
{
    for (int group = 0; group < MProject::kGroupCount; ++group)
        if (EqualsIgnoringCase(GroupToken(group), text))
            return group;
    return std::nullopt;
}

std::optional<std::string> GroupNameRefusal(
    const MProject& project, int group, std::string_view name)
{
    if (name == project.GetGroupName(group))
        return std::nullopt;
    if (name.size() > kGroupNameTyped)
        return "A group's name holds at most " + std::to_string(kGroupNameTyped) + " characters; '"
            + std::string(name) + "' has " + std::to_string(name.size()) + ".";
    // Two groups of one name, or a group named like another's k1-k8, would make `cardmill remove`
    // and `cardmill sample` pick the wrong group, or none.
    if (GroupOfToken(name))
        return "'" + std::string(name)
            + "' names a group already in cardmill commands (k1-k8, d1-d3, seq, prog); please "
              "choose another name.";
    for (int other = 0; other < MProject::kSoundGroups; ++other)
        if (other != group && !name.empty()
            && EqualsIgnoringCase(project.GetGroupName(other), name))
            return GroupTitle(other) + " (" + GroupToken(other) + ") is named '"
                + project.GetGroupName(other)
                + "' already; each group's name must differ, since it selects the group in "
                  "cardmill commands.";
    return std::nullopt;
}

} // namespace cardmill
