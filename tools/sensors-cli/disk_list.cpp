#include "disk_list.h"

#include "disk-names/disk_names.h"

namespace brivane::cli {

std::vector<DiskEntry> listDisks(const platform::posix::RootedDirectory& sys) {
    std::vector<DiskEntry> disks;
    const auto kernelNames = system_tools::wholeDisks(sys.list("block"));
    for (std::size_t i = 0; i < kernelNames.size(); ++i) {
        // SCSI models are blank-padded to their field's width.
        auto model =
            sys.readText(("block/" + kernelNames[i] + "/device/model").c_str(), 256).value_or("");
        while (!model.empty() && (model.back() == '\n' || model.back() == ' ')) {
            model.pop_back();
        }
        disks.push_back({system_tools::diskName(i), kernelNames[i], std::move(model)});
    }
    return disks;
}

std::optional<std::string> agentDiskName(std::string_view typed,
                                         const std::vector<DiskEntry>& disks) {
    if (typed.starts_with("/dev/")) {
        typed.remove_prefix(5);
    }
    for (const auto& disk : disks) {
        if (typed == disk.name || typed == disk.kernelName) {
            return disk.name;
        }
    }
    return std::nullopt;
}

DocumentView diskListView(const std::vector<DiskEntry>& disks) {
    ViewSection section{"disks",
                        {},
                        {{"disk", "disk"}, {"device", "device"}, {"model", "model"}},
                        {},
                        "no disks on this machine"};
    for (const auto& disk : disks) {
        const auto device = "/dev/" + disk.kernelName;
        section.rows.push_back(
            {{{disk.name, disk.name}, {device, device}, {disk.model, disk.model}}});
    }
    DocumentView view;
    view.sections.push_back(std::move(section));
    return view;
}

std::string renderDiskList(const std::vector<DiskEntry>& disks) {
    return renderText(diskListView(disks));
}

} // namespace brivane::cli
