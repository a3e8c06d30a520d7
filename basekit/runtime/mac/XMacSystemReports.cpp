// XMacSystemReports.cpp - network statistics, network adapters and disk partitions.
//
// The reports are JSON values. On this platform a volume's "disk" carries its
// size only: the device model, protocol and media identifier that a disk
// arbitration session gives on macOS are left empty.
#include <sys/statvfs.h>

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/platform/MountTable.h"
#include "basekit/platform/NetworkInfo.h"
#include "basekit/runtime/mac/XMacSystem.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

VString Text(const std::string& utf8)
{
    VString out;
    out.FromCString(utf8.c_str());
    return out;
}

VRefPtr<VJSONObject> NewObject()
{
    return VRefPtr<VJSONObject>::Adopt(new VJSONObject());
}

// The previous sample of GetInOutNetworkStats; the first is measured against
// zero time and zero totals.
struct NetworkSample {
    std::mutex mutex;
    uint64_t timeMs = 0;
    double received = 0;
    double sent = 0;
};

NetworkSample& GetNetworkSample()
{
    static NetworkSample* sSample = new NetworkSample;
    return *sSample;
}

bool IsNetworkFileSystem(const std::string& type)
{
    static const std::set<std::string> kNetworkTypes = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "afs", "9p",
                                                        "ceph", "fuse.sshfs", "davfs", "glusterfs"};
    return kNetworkTypes.count(type) != 0;
}

}  // namespace

bool XMacSystem::GetInOutNetworkStats(std::vector<double>& values)
{
    double received = 0, sent = 0;
    if (!platform::GetInterfaceByteTotals(received, sent)) return false;
    uint64_t now = VSystem::GetCurrentTime();
    NetworkSample& sample = GetNetworkSample();
    std::lock_guard<std::mutex> lock(sample.mutex);
    bool ok = received >= sample.received && sent >= sample.sent;
    if (ok) {
        double elapsed = static_cast<double>(now - sample.timeMs);
        if (elapsed <= 0) elapsed = 1;
        values.push_back((received - sample.received) / elapsed * 1000);
        values.push_back((sent - sample.sent) / elapsed * 1000);
    }
    sample.timeMs = now;
    sample.received = received;
    sample.sent = sent;
    return ok;
}

void XMacSystem::GetNetworkAdaptersInformations(VJSONArray& out)
{
    std::vector<platform::NetworkAddress> addresses;
    if (!platform::ListNetworkAddresses(addresses)) return;
    std::map<std::string, VRefPtr<VJSONArray>> byInterface;
    for (const platform::NetworkAddress& address : addresses) {
        VRefPtr<VJSONArray>& list = byInterface[address.interfaceName];
        if (!list) list = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
        VRefPtr<VJSONObject> entry = NewObject();
        entry->SetPropertyAsString(VString("ip"), Text(address.ip));
        entry->SetPropertyAsString(VString("type"), VString(address.ipv6 ? "ipv6" : "ipv4"));
        list->Push(VJSONValue(entry.Get()));
    }
    for (auto& [name, list] : byInterface) {
        VRefPtr<VJSONObject> adapter = NewObject();
        adapter->SetPropertyAsString(VString("type"), Text(platform::GetInterfaceKind(name)));
        adapter->SetPropertyAsString(VString("name"), Text(name));
        adapter->SetProperty(VString("ipAddresses"), VJSONValue(list.Get()));
        out.Push(VJSONValue(adapter.Get()));
    }
}

void XMacSystem::GetDiskPartitionsInfos(VJSONArray& out)
{
    for (const platform::MountedVolume& volume : platform::MountTable::GetMountedVolumes()) {
        struct statvfs st;
        if (::statvfs(volume.fMountPath.c_str(), &st) != 0 || st.f_blocks == 0) continue;
        double capacity = static_cast<double>(st.f_frsize) * static_cast<double>(st.f_blocks) / 1024;
        double available = static_cast<double>(st.f_frsize) * static_cast<double>(st.f_bavail) / 1024;
        VRefPtr<VJSONObject> partition = NewObject();
        partition->SetPropertyAsString(VString("mountPoint"), Text(volume.fMountPath));
        partition->SetPropertyAsNumber(VString("capacity"), capacity);
        partition->SetPropertyAsNumber(VString("available"), available);
        partition->SetPropertyAsString(VString("filesystem"), Text(volume.fType));
        partition->SetPropertyAsString(VString("name"), Text(volume.fName));
        VRefPtr<VJSONObject> disk = NewObject();
        disk->SetPropertyAsString(VString("interface"), VString(IsNetworkFileSystem(volume.fType) ? "network" : ""));
        disk->SetPropertyAsString(VString("description"), VString());
        disk->SetPropertyAsString(VString("identifier"), VString());
        disk->SetPropertyAsNumber(VString("size"), capacity);
        partition->SetProperty(VString("disk"), VJSONValue(disk.Get()));
        out.Push(VJSONValue(partition.Get()));
    }
}

}  // namespace bkit
