#include "tests/fake/fake_shared_word.h"

#include "platform/shared_word.h"

FakeSharedWord fake_shared_word;

void fake_shared_word_reset()
{
	fake_shared_word = FakeSharedWord{};
	fake_shared_word.word = 0xDEADBEEF;
}

bool shared_word_open(bool* existed, int* error)
{
	fake_shared_word.open_calls++;
	*existed = fake_shared_word.existed;
	*error = fake_shared_word.open_fails ? fake_shared_word.open_error : (fake_shared_word.existed ? 183 : 0);
	return !fake_shared_word.open_fails;
}

uint32_t* shared_word_map(int* error)
{
	fake_shared_word.map_calls++;
	if (fake_shared_word.map_fails) {
		*error = fake_shared_word.map_error;
		return nullptr;
	}
	return &fake_shared_word.word;
}
