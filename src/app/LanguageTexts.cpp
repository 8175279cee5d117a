#include "app/LanguageTexts.h"

namespace {

struct Builtin {
  int number;
  const char* text;
};

// Parts are separated by line feeds.
constexpr Builtin kBuiltinTexts[] = {
    {62446, "层名\n显示\n选择\n标注\n编辑\n"},
    {62447, "本地数据库打开失败\nSQL数据库打开失败\nSQL数据库打开成功"},
    {62448,
     "Socket\n机号\n机型\n当前连接\n接收机位置\n解类型/基站ID\n固定率\n发记数\n接记数\n在线时长\n接收\n数据\n"
     "发送\n软件版本\n所属管理区\nIP"},
    {62449, "设置\n详细情况\n图形显示\nGoogle Earth地图\n"},
    {62450, "服务器IP\n服务器启动 \n启动\n监听套接字创建失败\n服务关闭"},
    {62451, "QVO-KavroServer"},
    {62452, "数据库打开失败"},
    {62453, "客户端\n连接\n关闭"},
    {62454, "密码或用户验证错误或功能受限"},
    {62455, "固定解\n浮点解\n差分解\n单点解\n没有定位\n"},
    {62456, "用户名密码错\n时间超\n日期超\n功能受限\n用户机号绑定错误\n密码错误\n用户错误\n"},
    {62457, "域名不存在\n用户重复"},
};

}  // namespace

const char* BuiltinText(int number) {
  for (const Builtin& b : kBuiltinTexts) {
    if (b.number == number) return b.text;
  }
  return nullptr;
}

void SplitText(std::string_view text, std::string_view separator, TextList& slots) {
  for (auto& slot : slots) slot.clear();
  size_t slot = 0;
  while (slot + 1 < slots.size()) {
    const size_t at = text.find(separator);
    if (at == std::string_view::npos) break;
    slots[slot++] = std::string(text.substr(0, at));
    text.remove_prefix(at + separator.size());
  }
  slots[slot] = std::string(text);
}
