// SPDX-License-Identifier: BSD-3-Clause
// The known-device list, the "lsusb -v" block reader and the start-up
// inventory.
#include "groups/hotplug/hwdProbe.h"

#include "lib/command.h"
#include "lib/fieldCopy.h"

#include <cstdio>
#include <cstdlib>

hwInfo Global_hwList = {{}, {}, {}, 0, {&Global_hwList.list, &Global_hwList.list}};

namespace {

constexpr std::size_t VENDOR_COLUMN = 23;       // the hex digits after "0x"
constexpr std::size_t VENDOR_DIGITS = 4;
constexpr std::size_t STRING_COLUMN = 28;       // after the descriptor index
constexpr std::size_t STRING_MAX = 39;
constexpr std::size_t FRIENDLY_MAX = 59;
constexpr char LSUSB_COMMAND[] = "lsusb -v";
constexpr double LSUSB_TIME_LIMIT = 5.0;        // seconds

// Up to `max` characters of a line from `column` on, its newline excluded.
std::string columnText(std::string_view line, std::size_t column, std::size_t max)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (line.size() <= column)
        return {};
    return std::string(line.substr(column, max));
}

} // namespace

std::vector<UsbBlock> parseUsbBlocks(std::string_view output, const UsbReadLimits &limits)
{
    std::vector<UsbBlock> blocks;
    std::string vendor, product, manufacturer, productName, serial, text;

    auto endBlock = [&] {
        UsbBlock b;
        b.rawName = "USB#Vid_" + vendor + "&Pid_" + product + "#" + manufacturer + " " + productName + "#" + serial;
        b.friendlyName = (manufacturer + " " + productName).substr(0, FRIENDLY_MAX);
        b.text = std::move(text);
        text.clear();
        blocks.push_back(std::move(b));
    };

    std::size_t pos = 0;
    while (pos < output.size()) {
        std::size_t newline = output.find('\n', pos);
        std::size_t end = newline == std::string_view::npos ? output.size() : newline + 1;
        if (end - pos > limits.linePiece)
            end = pos + limits.linePiece;
        const std::string_view line = output.substr(pos, end - pos);
        pos = end;

        if (text.size() < limits.blockText)
            text.append(line.substr(0, limits.blockText - text.size()));

        // The first key a line holds decides.
        if (line.find("idVendor") != std::string_view::npos)
            vendor = columnText(line, VENDOR_COLUMN, VENDOR_DIGITS);
        else if (line.find("idProduct") != std::string_view::npos)
            product = columnText(line, VENDOR_COLUMN, VENDOR_DIGITS);
        else if (line.find("iManufacturer") != std::string_view::npos)
            manufacturer = columnText(line, STRING_COLUMN, STRING_MAX);
        else if (line.find("iProduct") != std::string_view::npos)
            productName = columnText(line, STRING_COLUMN, STRING_MAX);
        else if (line.find("iSerial") != std::string_view::npos)
            serial = columnText(line, STRING_COLUMN, STRING_MAX);

        if (line[0] == '\n')
            endBlock();
    }
    if (!text.empty())
        endBlock();
    return blocks;
}

const char *usbInventoryType(const UsbBlock &block)
{
    if (block.contains("Mass Storage"))
        return "u-disk";
    if (block.contains("Mouse"))
        return "mouse";
    if (block.contains("Keyboard"))
        return "keyboard";
    return nullptr;
}

hwInfo *addKnownDevice(list_head *list, std::string_view rawName, std::string_view friendlyName, const char *type)
{
    auto *device = static_cast<hwInfo *>(calloc(1, sizeof(hwInfo)));
    if (!device)
        return nullptr;
    setFieldText(device->rawName, rawName);
    setFieldText(device->friendlyName, friendlyName);
    setFieldText(device->type, type);
    device->existFlag = 0;
    list_add(&device->list, list);
    return device;
}

void recordUsbInventory(list_head *list, std::string_view output)
{
    INIT_LIST_HEAD(list);
    for (const UsbBlock &block : parseUsbBlocks(output, inventoryReadLimits))
        if (const char *type = usbInventoryType(block))
            addKnownDevice(list, block.rawName, block.friendlyName, type);
}

bool listsUsbDevice(std::string_view output)
{
    return output.find("idVendor") != std::string_view::npos;
}

UsbListing listUsbDevices()
{
    UsbListing listing;
    CommandResult r = runCommand(LSUSB_COMMAND, LSUSB_TIME_LIMIT);
    if (!r.started)
        fputs("Erro to popen\n", stderr);
    if (!r.succeeded())
        listing.reading.add(r.notInstalled() ? GroupStatus::Absent : GroupStatus::Failing,
                            commandFailure(LSUSB_COMMAND, r, LSUSB_TIME_LIMIT));
    else if (!listsUsbDevice(r.output))
        listing.reading.fail(std::string(LSUSB_COMMAND) + ": no device listed");
    if (!r.timedOut)
        listing.output = std::move(r.output);
    return listing;
}

void getHwInfo()
{
    UsbListing listing = listUsbDevices();
    noteGroupReading(HOTPLUG_HEALTH_ROW, listing.reading);
    recordUsbInventory(&Global_hwList.list, listing.output);
}
