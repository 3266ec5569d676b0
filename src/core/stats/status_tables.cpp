#include "status_tables.h"

#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <utility>

namespace logdesk {

namespace {

// UTF-8 here, GBK once converted. Descriptions are kept byte for byte, slips
// such as "witching Protocols" included: users search exports and scripts
// for these very texts.
constexpr std::string_view kHttpUtf8 =
    "100|已响应初始请求，继续其余请求(Continue)\r\n"
    "101|服务器转到另外的协议(witching Protocols)\r\n"
    "200|访问正常(OK)\r\n"
    "201|服务器已创建文档,Location头中有该文档地址(Created)\r\n"
    "202|已接受请求但处理尚未完成(Accepted)\r\n"
    "203|返回的文档非官方(Non-Authoritative Information)\r\n"
    "204|请求的文档没有更新(No Content)\r\n"
    "205|重置当前显示的网页元素如表单(Reset Content)\r\n"
    "206|服务器已完成Range头的GET请求(Partial Content)\r\n"
    "300|存在多个文档位置，应在Location头中指明返回哪个(Multiple Choices)\r\n"
    "301|文档已被永久性转移到新页面(Moved Permanently)\r\n"
    "302|文档已被临时性转移到新页面(Found)\r\n"
    "303|文档已被强制性GET转移到新页面(See Other)\r\n"
    "304|原来已缓冲的文档可继续使用(Not Modified)\r\n"
    "305|文档应该通过代理服务器访问(Use Proxy)\r\n"
    "307|浏览器只能跟随对GET请求的重定向(Temporary Redirect)\r\n"
    "400|请求出现语法错误(Bad Request)\r\n"
    "401|访问被拒绝，该文档已被加密而请求非法(Unauthorized)\r\n"
    "402|该状态无效(Payment Required)\r\n"
    "403|因权限设置服务器拒绝了请求(Forbidden)\r\n"
    "404|该文档已经不存在(Not Found)\r\n"
    "405|请求方法不适用该文档(Method Not Allowed)\r\n"
    "406|文档不符合请求类型被浏览器拒绝(Not Acceptable)\r\n"
    "407|该请求需要代理服务器授权(Proxy Authentication Required)\r\n"
    "408|请求超时，服务器可能挂起该文档(Request Time-out)\r\n"
    "409|请求的文档与系统冲突导致失败(Conflict)\r\n"
    "410|该文档已不存在且无法重定向到新页面(Gone)\r\n"
    "411|服务器要求浏览器发送Content-Length头完成访问(Length Required)\r\n"
    "412|请求头中指定的一些前提条件失败(Precondition Failed)\r\n"
    "413|请求的文档过大，服务器可能稍后返回(Request Entity Too Large)\r\n"
    "414|请求的网址太长(Request-URI Too Large)\r\n"
    "415|不支持该媒体类型的请求处理(Unsupported Media Type)\r\n"
    "416|服务器不能满足浏览器在请求中指定的Range头(Requested range not satisfiable)\r\n"
    "417|执行失败(Expectation Failed)\r\n"
    "423|发生错误且已被锁定(Lock Error)\r\n"
    "500|服务器遇到了意料不到的情况不能完成请求(Internal Server Error)\r\n"
    "501|服务器不支持完成请求所需要的功能(Not Implemented)\r\n"
    "502|服务器代理转接时收到无效响应(Bad Gateway)\r\n"
    "503|服务器由于维护或者负载过重未能应答(Service Unavailable)\r\n"
    "504|服务器代理超时(Gateway Time-out)\r\n"
    "505|服务器不兼容该HTTP版本的请求(HTTP Version not supported)\r\n";

constexpr std::string_view kWin32Utf8 =
    "0|完成\r\n"
    "1|函数不正确\r\n"
    "2|系统找不到指定的文件\r\n"
    "3|系统找不到指定的路径\r\n"
    "4|系统无法打开文件\r\n"
    "5|拒绝访问\r\n"
    "6|句柄无效\r\n"
    "7|存储控制块被损坏\r\n"
    "8|存储空间不足，无法处理此命令\r\n"
    "9|存储控制块地址无效\r\n"
    "10|环境不正确\r\n"
    "11|试图加载格式不正确的程序\r\n"
    "12|访问码无效\r\n"
    "13|数据无效\r\n"
    "14|存储空间不足，无法完成此操作\r\n"
    "15|系统找不到指定的驱动器\r\n"
    "16|无法删除目录\r\n"
    "17|系统无法将文件移到不同的驱动器\r\n"
    "18|没有更多文件\r\n"
    "19|媒体受写入保护\r\n"
    "20|系统找不到指定的设备\r\n"
    "21|设备未就绪\r\n"
    "22|设备不识别此命令\r\n"
    "23|数据错误(循环冗余检查)\r\n"
    "24|程序发出命令，但命令长度不正确\r\n"
    "25|驱动器找不到磁盘上特定区域或磁道\r\n"
    "26|无法访问指定的磁盘或软盘\r\n"
    "27|驱动器找不到请求的扇区\r\n"
    "28|打印机缺纸\r\n"
    "29|系统无法写入指定的设备\r\n"
    "30|系统无法从指定的设备上读取\r\n"
    "31|连到系统上的设备没有发挥作用\r\n"
    "32|另一个程序正在使用此文件，进程无法访问\r\n"
    "33|另一个程序已锁定文件的一部分，进程无法访问\r\n"
    "36|用来共享的打开文件过多\r\n"
    "38|已到文件结尾\r\n"
    "39|磁盘已满\r\n"
    "50|不支持请求\r\n"
    "51|"
    "Windows无法找到网络路径。请确认网络路径正确并且目标计算机不忙或已关闭。如果Windows仍然无法找到"
    "网络路径，请与网络管理员联系。\r\n"
    "52|由于网络上有重名，没有连接。请到“控制面板”中的“系统”更改计算机名\r\n"
    "53|找不到网络路径\r\n"
    "54|网络很忙\r\n"
    "55|指定的网络资源或设备不再可用\r\n"
    "56|已达到网络BIOS命令限制\r\n"
    "57|网络适配器硬件出错\r\n"
    "58|指定的服务器无法运行请求的操作\r\n"
    "59|出现了意外的网络错误\r\n"
    "60|远程适配器不兼容\r\n"
    "61|打印机队列已满\r\n"
    "62|服务器上没有储存等待打印的文件的空间\r\n"
    "63|已删除等候打印的文件\r\n"
    "64|指定的网络名不再可用\r\n"
    "65|拒绝网络访问\r\n"
    "66|网络资源类型不对\r\n"
    "67|找不到网络名\r\n"
    "68|超出本地计算机网络适配器卡的名称限制\r\n"
    "69|超出了网络BIOS会话限制\r\n"
    "70|远程服务器已暂停，或正在启动过程中\r\n"
    "71|已达到计算机的连接数最大值，无法再同此远程计算机连接\r\n"
    "72|已暂停指定的打印机或磁盘设备\r\n"
    "80|文件存在\r\n"
    "82|无法创建目录或文件\r\n"
    "83|INT24上的故障\r\n"
    "84|无法取得处理此请求的存储空间\r\n"
    "85|本地设备名已在使用中\r\n"
    "86|指定的网络密码不正确\r\n"
    "87|参数不正确\r\n"
    "88|网络上发生写入错误\r\n"
    "89|系统无法在此时启动另一个进程\r\n"
    "100|无法创建另一个系统信号灯\r\n";

// Byte index of the first "|" that starts a character, or npos: 0x7C is also
// a GBK trail byte, so a plain byte search may split a character.
std::size_t FirstBar(std::string_view text) {
    const TextPos at = FindText(text, "|");
    return at == kNotFound ? std::string_view::npos : static_cast<std::size_t>(at - 1);
}

} // namespace

StatusCodeTable::StatusCodeTable(std::string text) : text_(std::move(text)) {
    for (std::string_view line : SplitText(text_, "\r\n")) {
        const std::size_t bar = FirstBar(line);
        if (bar != std::string_view::npos) {
            descriptions_.emplace(line.substr(0, bar), line.substr(bar + 1));
        }
    }
}

std::string_view StatusCodeTable::describe(std::string_view code) const {
    if (!code.empty()) {
        const auto found = descriptions_.find(code);
        if (found != descriptions_.end() && !found->second.empty()) {
            return found->second;
        }
    }
    return UnknownStatusText();
}

const StatusCodeTable& HttpStatusTable() {
    static const StatusCodeTable table(Gbk(kHttpUtf8));
    return table;
}

const StatusCodeTable& Win32StatusTable() {
    static const StatusCodeTable table(Gbk(kWin32Utf8));
    return table;
}

const std::string& UnknownStatusText() {
    static const std::string text = Gbk("不明状态");
    return text;
}

std::string DescribeStatusKey(std::string_view key) {
    const std::size_t bar = FirstBar(key);
    const std::string_view http = key.substr(0, bar);
    const std::string_view win32 =
        bar == std::string_view::npos ? std::string_view() : key.substr(bar + 1);
    std::string text(HttpStatusTable().describe(http));
    text += '|';
    text += Win32StatusTable().describe(win32);
    return text;
}

} // namespace logdesk
