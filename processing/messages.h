// The fixed messages printed on stdout, as UTF-8 bytes. The two prompts of
// the tint edits end without a newline; all others end with one.
#pragma once

namespace korvane::messages {

inline constexpr char kLoadPrompt[] = "사진 파일을 불러와 주세요  (파일명을 입력하면 불러올 수 있습니다.)\n";
inline constexpr char kLoadFailure[] = "파일 불러오기에 실패하였습니다.\n";
inline constexpr char kAllocationFailure[] = "픽셀 정보 저장을 위한 메모리 할당 실패.. 프로그램을 종료합니다\n";
// Arguments: biWidth, biHeight, bfSize, each as a signed decimal.
inline constexpr char kReadCompleteFormat[] = "파일 읽기 완료..%d x %d, %dbyte\n";
inline constexpr char kRejection[] = "실행 불가능한 기능입니다.\n";
inline constexpr char kExit[] = "프로그램 종료\n";
inline constexpr char kSavePrompt[] = "저장할 파일명을 입력하세요\n";
inline constexpr char kSaveFailure[] = "파일 저장 오류입니다.\n";
inline constexpr char kIncreasePrompt[] = "증가량을 입력하세요 (R, G, B 순으로)";
// Arguments: the amount three times, as signed decimals.
inline constexpr char kEchoFormat[] = "입력된 숫자 : %d %d %d\n";
inline constexpr char kDecreasePrompt[] = "감소량을 입력하세요 (R, G, B 순으로)";

}  // namespace korvane::messages
