#include "spreadsheet/read/CommonCharacters.h"

#include <bitset>
#include <memory>
#include <string_view>

namespace spreadsheet {

namespace {

// The lists, in UTF-8. They need not be exact: they only have to hold many of the characters of real text
// in the language and few of those that text in another encoding gives when misread.
constexpr std::string_view kCommonHan =
    "的一是不了在人有我他这个们中来上大为和国地到以说时要就出会可也你对生能而子那得于"
    "着下自之年过发后作里用道行所然家种事成方多经么去法学如都同现当没动面起看定天分还"
    "进好小部其些主样理心她本前开但因只从想实日军者意无力它与长把机十民第公此已工使情"
    "明性知全三又关点正业外将两高间由问很最重并物手应战向头文体政美相见被利什二等产或"
    "新己制身果加西斯月话合回特代内信表化老给世位次度门任常先海通教儿原东声提立及比员"
    "解水名真论处走义各入几口认条平系气题活尔更别打女变四神总何电数安少报才结反受目太"
    "量再感建务做接必场件计管期市直德资命山金指克许统区保至队形社便空决治展马科司五基"
    "眼书非则听白却界达光放强即像难且权思王象完设式色路记南品住告类求据程北边死张该交"
    "规万取拉格望觉术领共确传师观清今切院让识候带导争运笑飞风步改收根干造言联持组每济"
    "车亲极林服快办议往元英士证近失转夫令准布始怎呢存未远叫台单影具罗字爱击流备兵连调"
    "深商算质团集百需价花党华城石级整府离况亚请技际约示复病息究线似官火断精满支视消越"
    "器容照须九增研写称企八功吗包片史委乎查轻易早曾除农找装广显吧阿李标谈吃图念六引历"
    "首医局突专费号尽另周较注语仍省县镇村街楼室店银账户订货款额税票姓址邮箱男刘陈杨黄"
    "赵吴徐孙胡朱郭郑梁谢宋唐韩冯邓曹彭萧田董袁潘蒋蔡余杜叶苏魏吕丁沈姚卢姜崔钟谭陆汪"
    "范廖贾夏韦付邹孟熊秦邱江尹薛段雷侯龙陶黎贺顾毛郝龚邵钱严武戴莫孔汤限股份贸售销购"
    "库材料项客编码批型状态职考龄校班绩试课否待审核退凭卡效域京津沪渝粤浙鲁豫川鄂湘皖"
    "闽赣冀晋辽吉黑陕甘青宁藏桂琼云贵蒙港澳這個們來為國說時會對於著後裡過發經麼學現當"
    "沒動還進樣實軍與長機從無開關點業將兩間問應戰頭體見產變結題話總認條報際書記區華級"
    "傳師觀識導爭運飛風轉準專費號盡較語務場計請團質價黨離況亞復線斷視滿須寫稱歷醫圖顯"
    "輕農裝廣談處義幾門車親極讓聯組濟電數隊東連調員達強權難設領確論張統萬覺術課範層寶"
    "藝銷購庫項貨單額帳戶訂稅臺縣鎮鄉樓館銀陳劉楊黃趙吳孫鄭謝韓馮鄧蕭葉蘇呂盧鍾譚陸賈"
    "鄒龔錢嚴湯貿買賣網絡頁資訊營規劃議獎勵績據參習證歲齡職郵遞鄰巷弄円気七午千半土木"
    "聞食毎母右読友左休父雨株藤佐鈴橋渡辺伊井松斎野島池森坂遠郎県町番様殿御価込送払収"
    "納発配予氏担営係備顧売仕";

constexpr std::string_view kCommonHangul =
    "이다는의에고하가을지서기한로사리으도를어자나정대일수있시과아적인부주게해상전되국"
    "들제라요보구위여만성우면장소연것없원동니문비신관그개내발생경공세중화학조물행진치"
    "결방실회마반무러선안오미용유식거까같할저합계심출때명입각법교야모건운체표민업통분"
    "현김박최강윤임권황송류홍손양배백허남노곽차엄천함변염추석설길왕금옥육맹탁은편예봉"
    "복태목형피두감호음빈온범좌팽승간갈단견당울산광역특별충청북군읍번파트층팀직급름락"
    "처휴폰년월액량날짜코드품래객매카잔확완료취";

// A set of characters of the Basic Multilingual Plane, one bit each (8 KiB).
using CharacterSet = std::bitset<0x10000>;

std::unique_ptr<CharacterSet> setOf(std::string_view utf8)
{
    auto set = std::make_unique<CharacterSet>();
    for (std::size_t i = 0; i + 2 < utf8.size(); i += 3) { // three-byte characters only
        const auto b0 = static_cast<unsigned char>(utf8[i]), b1 = static_cast<unsigned char>(utf8[i + 1]),
                   b2 = static_cast<unsigned char>(utf8[i + 2]);
        set->set(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
    }
    return set;
}

bool contains(const CharacterSet& set, char32_t c) { return c < 0x10000 && set.test(c); }

} // namespace

bool isCommonHan(char32_t c)
{
    static const std::unique_ptr<CharacterSet> set = setOf(kCommonHan);
    return contains(*set, c);
}

bool isKana(char32_t c) { return (c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FC); }

bool isCommonHangul(char32_t c)
{
    static const std::unique_ptr<CharacterSet> set = setOf(kCommonHangul);
    return contains(*set, c);
}

} // namespace spreadsheet
