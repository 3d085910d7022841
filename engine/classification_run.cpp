namespace engine {} // namespace engine
