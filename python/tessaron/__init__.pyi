__version__: str
__all__: list[str]
