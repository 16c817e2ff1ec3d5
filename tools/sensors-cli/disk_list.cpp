#include "disk_list.h"

#include "disk_names.h"
#include "text_table.h"

namespace brivane::cli {

std::vector<DiskEntry> listDisks(const platform::host::RootedDirectory& sys) {
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

std::string renderDiskList(const std::vector<DiskEntry>& disks) {
    if (disks.empty()) {
        return "No disks on this machine.\n";
    }
    TextTable table({{"disk"}, {"device"}, {"model"}});
    for (const auto& disk : disks) {
        table.addRow({disk.name, "/dev/" + disk.kernelName, disk.model});
    }
    return table.render();
}

} // namespace brivane::cli
