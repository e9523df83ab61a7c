// Module registration. The script classes are added as the binding grows.
#include <node.h>

namespace zorezu {

void Init(v8::Local<v8::Object> exports) { (void)exports; }

}  // namespace zorezu

NODE_MODULE(NODE_GYP_MODULE_NAME, zorezu::Init)
